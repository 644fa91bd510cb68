#pragma once

#include <QString>

#include <functional>
#include <memory>

class Timer;

// Tells when something changes in a folder (a device appeared in /dev, or a link was made).
class FolderWatch {
public:
    virtual ~FolderWatch() = default;
    virtual void watch(const QString& folder) = 0;
    virtual void unwatch() = 0;
    void onChanged(std::function<void()> changed) { m_changed = std::move(changed); }

protected:
    void changed() {
        if (m_changed)
            m_changed();
    }

private:
    std::function<void()> m_changed;
};

// The system's watch on a folder (inotify behind QFileSystemWatcher).
std::unique_ptr<FolderWatch> systemFolderWatch();

// When a port whose line was lost tries to have it again, without the operator. A terminal
// device is tried as soon as its folder changes (an adapter plugged back in) and every
// LOCAL_RETRY_MS besides, since udev may give the device its rights a moment after it
// appears, and a watch may miss a change. A terminal server's port is tried after a pause
// that doubles from FIRST_PAUSE_MS to LAST_PAUSE_MS, so that a server that is down is not
// pressed. While it waits it costs nothing but one timer.
class LineRetry {
public:
    static constexpr int LOCAL_RETRY_MS = 2000;
    static constexpr int FIRST_PAUSE_MS = 1000;
    static constexpr int LAST_PAUSE_MS = 30000;

    // `attempt` tries to have the line again; its outcome comes back as failed() or ended().
    LineRetry(Timer& timer, FolderWatch& watch, std::function<void()> attempt);
    ~LineRetry();
    LineRetry(const LineRetry&) = delete;
    LineRetry& operator=(const LineRetry&) = delete;

    // The line at `path` is lost: waiting begins. `remote`: a terminal server's port.
    void begin(const QString& path, bool remote);
    // The attempt found no line: the next one is planned.
    void failed();
    // The line is back, or the operator closed the port: waiting ends.
    void end();
    bool isWaiting() const { return m_waiting; }
    // The pause before the next attempt.
    int pauseMs() const;

private:
    void plan();
    void tryNow();

    Timer& m_timer;
    FolderWatch& m_watch;
    std::function<void()> m_attempt;
    bool m_waiting = false;
    bool m_remote = false;
    bool m_trying = false; // an attempt is under way: a folder change waits for its outcome
    int m_pause = FIRST_PAUSE_MS;
};
