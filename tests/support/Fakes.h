#pragma once

#include "dispatch/ConsoleOutput.h"
#include "dispatch/Dispatcher.h"
#include "dispatch/Journal.h"
#include "link/PortWriter.h"
#include "link/SerialDevice.h"
#include "shared/Cp1251.h"
#include "shared/OperatorMessages.h"
#include "shared/Timer.h"
#include "shared/WindowMessages.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

// How soon something must happen that the program does at once (an answer, a repaint after
// a change on another thread). Sanitizers slow everything down several times.
//
// How soon a process must end once told to: a second for the program itself; a sanitized
// build also runs its leak check and teardown after the program's own end.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int PROMPT_MS = 1000;
constexpr int EXIT_MS = 3000;
#else
constexpr int PROMPT_MS = 100;
constexpr int EXIT_MS = 1000;
#endif

// A timer that runs only when the test says so.
class FakeTimer final : public Timer {
public:
    explicit FakeTimer(int milliseconds = 0) : m_interval(milliseconds) {}
    void setInterval(int milliseconds) override { m_interval = milliseconds; }
    int interval() const override { return m_interval; }
    void enable() override {
        if (!m_enabled)
            ++starts;
        m_enabled = true;
    }
    void disable() override { m_enabled = false; }
    bool isEnabled() const override { return m_enabled; }
    // The interval has passed: fires when enabled, as a window timer would.
    bool elapse() {
        if (!m_enabled)
            return false;
        fire();
        return true;
    }
    int starts = 0; // how often a countdown began

private:
    int m_interval;
    bool m_enabled = false;
};

class RecordingMessages final : public OperatorMessages {
public:
    void plain(const QString& text) override { shown.append(QStringLiteral("plain:") + text); }
    void error(const QString& text) override { shown.append(QStringLiteral("error:") + text); }
    void failure(const QString& text) override { shown.append(QStringLiteral("failure:") + text); }
    QStringList shown;
};

// A journal that keeps the web's reports as text ("refused 4 127.0.0.1 RTM-RRT",
// "web 3 127.0.0.1"); safe on any thread.
class RecordingJournal final : public Journal {
public:
    Record commandQueued(CommandSource, QByteArrayView, QByteArrayView) override { return 0; }
    void commandSent(Record, bool) override {}
    void commandEnded(Record, CommandEnd) override {}
    void replyLine(Record, QByteArrayView) override {}
    void commandRefused(Refusal why, CommandSource, QByteArrayView address,
                        QByteArrayView text) override {
        add("refused " + QByteArray::number(int(why)) + ' ' + address.toByteArray() + ' ' +
            text.toByteArray());
    }
    void webEvent(WebEvent event, QByteArrayView address) override {
        add("web " + QByteArray::number(int(event)) + ' ' + address.toByteArray());
    }
    void portEvent(PortEvent, QByteArrayView) override {}
    void stopSent(Record, QByteArrayView) override {}
    QList<QByteArray> reports() const {
        std::lock_guard lock(m_mutex);
        return m_reports;
    }

private:
    void add(const QByteArray& report) {
        std::lock_guard lock(m_mutex);
        m_reports.append(report.trimmed());
    }
    mutable std::mutex m_mutex;
    QList<QByteArray> m_reports;
};

class RecordingConsole final : public ConsoleOutput {
public:
    void appendLine(const ReplyLine& line) override {
        lines.append(Cp1251::toUnicode(line.view()));
    }
    void trim() override { ++trims; }
    QStringList lines;
    int trims = 0;
};

class RecordingPort final : public PortWriter {
public:
    std::uint8_t PortOpen() const override { return open; }
    void WriteComm(QByteArrayView bytes) override { writes.append(bytes.toByteArray()); }
    std::uint8_t open = 0; // PortOpen
    QList<QByteArray> writes;
};

// Keeps posted messages until the test hands them to their handler.
template <class M> class HeldMessages final : public Poster<M> {
public:
    void post(M message) override {
        std::lock_guard lock(m_mutex);
        m_messages.push_back(std::move(message));
    }
    std::vector<M> take() {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_messages, {});
    }

private:
    std::mutex m_mutex;
    std::vector<M> m_messages;
};

// A serial device on one end of a socket pair, with modem lines that the test sets.
class FakeSerialDevice final : public SerialDevice {
public:
    FakeSerialDevice();
    ~FakeSerialDevice() override;
    bool open(const QString& path) override;
    void close() override;
    int descriptor() const override { return m_fd; }
    ssize_t readSome(char* buffer, std::size_t size) override;
    ssize_t writeSome(const char* bytes, std::size_t size) override;
    void purge() override {}
    std::optional<ModemLines> modemLines() const override;
    std::optional<LineSettings> settings() const override;
    bool applySettings(const LineSettings& settings) override;

    void setModemLines(ModemLines lines);
    // The exchange's end of the pair.
    int exchangeEnd() const { return m_exchangeEnd; }
    QString openedPath;
    bool refuseOpen = false;
    bool settingsUnreadable = false;
    bool settingsRefused = false; // as a terminal server's port refuses what it cannot say
    LineSettings lineSettings;
    int applied = 0;

private:
    int m_fd = -1;
    int m_exchangeEnd = -1;
    mutable std::mutex m_mutex;
    ModemLines m_lines;
};

// A clock that moves only when the test moves it; readable from any thread.
class FakeClock {
public:
    using time_point = std::chrono::steady_clock::time_point;
    time_point now() const { return time_point(std::chrono::milliseconds(m_ms.load())); }
    void advance(std::chrono::milliseconds step) { m_ms += step.count(); }
    std::function<time_point()> function() const {
        return [this] { return now(); };
    }

private:
    std::atomic<long long> m_ms{1'000'000};
};
