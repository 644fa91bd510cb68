#pragma once

#include "link/PortMessages.h"
#include "link/SerialDevice.h"

#include <QByteArrayView>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// The port's own thread. It first lets the device connect (a terminal server's port) and
// posts LineUp once the line is there, then blocks in poll() on the device and on a wake-up
// descriptor and never spins: received bytes go, in order, to the window thread (Received); a
// change of CTS or DSR posts CtsChanged or DsrChanged; bytes handed to write() leave in the order
// given, each write whole behind the earlier ones. A failed connection, a hang-up or an I/O error
// ends the thread by itself and posts LineLost with the device's reason, if it has one. A read that
// finds nothing after all (a socket's, or one that held only the device's own protocol) is no loss.
// stop() wakes it and joins it; nothing is killed.
class PortReader {
public:
    static constexpr int MODEM_POLL_MS = 100; // CTS/DSR sampling interval, milliseconds
    static constexpr std::size_t READ_BLOCK = 4096;

    PortReader(SerialDevice& device, PortMessages& poster);
    ~PortReader();
    PortReader(const PortReader&) = delete;
    PortReader& operator=(const PortReader&) = delete;

    void start();
    void stop();
    // Queues bytes for sending; returns at once.
    void write(QByteArrayView bytes);
    // The device has output of its own to send (new line settings): the thread looks.
    void wake();

private:
    enum class ReadResult { Bytes, Nothing, LineGone };
    void run();
    ReadResult readInput();
    bool writeOutput();
    bool writeAll();
    void sampleModemLines();
    bool outputPending();
    void lineLost();

    SerialDevice& m_device;
    PortMessages& m_poster;
    std::thread m_thread;
    int m_wakeFd = -1;
    std::atomic<bool> m_stopping{false};
    std::mutex m_outMutex;
    std::string m_output;
    std::optional<ModemLines> m_modem;
};
