#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Runs the window thread's event loop until `done` holds or `timeoutMs` has passed. It
// sleeps in the event loop between checks, so it costs no processor and no fixed delay:
// every posted window message, socket notifier or timer wakes it.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000);

// Writes a file whole, making its folder first; false when it cannot.
bool writeFile(const QString& path, const QByteArray& bytes);
// A file's bytes, or "(missing)" when it cannot be read.
QByteArray readFile(const QString& path);

// A self-signed certificate for 127.0.0.1 and its key, as PEM files (made by openssl);
// false when they cannot be made.
bool makeCertificate(const QString& certificateFile, const QString& keyFile);

// Entries of a /proc directory: /proc/self/task counts threads, /proc/self/fd descriptors.
int entriesIn(const char* directory);
// Threads of this process that carry the name.
int threadsNamed(const char* name);

// Processor time of the whole process so far, every thread counted.
std::chrono::nanoseconds processCpuTime();

// Ends the test program with a message when a step takes longer than it may, so that a step
// that would hang fails at once instead of holding the whole suite until its time-out.
class Watchdog {
public:
    Watchdog(std::chrono::milliseconds limit, const char* step);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

// A pseudo-terminal whose far end (the master) the test holds: nothing reads what the
// terminal writes until the test does, so written output stays stuck in the line.
class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool isOpen() const { return m_master >= 0; }
    // The terminal's side, to be opened as the serial port.
    const QString& linePath() const { return m_path; }
    // The far end's line discipline takes in a few kilobytes and then refuses more, so the
    // rest of the output stays in the line: how much it took in, once that has stopped
    // growing (-1 if it never does). Those bytes count as sent; the rest has not left.
    int takenInWhenFull(int timeoutMs) const;
    // Everything the far end can read now (nothing once the terminal's side has closed and
    // its output was discarded).
    QByteArray readAvailable() const;
    // The far end sends `bytes` to the terminal's side.
    bool send(const QByteArray& bytes) const;

private:
    int m_master = -1;
    QString m_path;
};
