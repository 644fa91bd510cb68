#include "link/LineRetry.h"

#include "shared/Timer.h"

#include <QFileInfo>
#include <QFileSystemWatcher>

#include <algorithm>

namespace {

class SystemFolderWatch final : public FolderWatch {
public:
    SystemFolderWatch() {
        QObject::connect(&m_watcher, &QFileSystemWatcher::directoryChanged, [this] { changed(); });
    }
    void watch(const QString& folder) override {
        unwatch();
        m_watcher.addPath(folder);
    }
    void unwatch() override {
        if (!m_watcher.directories().isEmpty())
            m_watcher.removePaths(m_watcher.directories());
    }

private:
    QFileSystemWatcher m_watcher;
};

} // namespace

std::unique_ptr<FolderWatch> systemFolderWatch() {
    return std::make_unique<SystemFolderWatch>();
}

LineRetry::LineRetry(Timer& timer, FolderWatch& watch, std::function<void()> attempt)
    : m_timer(timer), m_watch(watch), m_attempt(std::move(attempt)) {
    m_timer.onTimeout([this] { tryNow(); });
    m_watch.onChanged([this] {
        if (m_waiting && !m_remote && !m_trying)
            tryNow();
    });
}

LineRetry::~LineRetry() {
    m_timer.onTimeout(nullptr);
    m_watch.onChanged(nullptr);
}

void LineRetry::begin(const QString& path, bool remote) {
    m_waiting = true;
    m_remote = remote;
    m_trying = false;
    m_pause = FIRST_PAUSE_MS;
    if (!remote)
        m_watch.watch(QFileInfo(path).absolutePath());
    plan();
}

void LineRetry::plan() {
    m_timer.setInterval(pauseMs());
    m_timer.restart();
}

int LineRetry::pauseMs() const {
    return m_remote ? m_pause : LOCAL_RETRY_MS;
}

void LineRetry::tryNow() {
    m_timer.disable();
    m_trying = true;
    m_attempt();
}

void LineRetry::failed() {
    if (!m_waiting)
        return;
    m_trying = false;
    m_pause = std::min(m_pause * 2, LAST_PAUSE_MS);
    plan();
}

void LineRetry::end() {
    m_waiting = false;
    m_trying = false;
    m_timer.disable();
    m_watch.unwatch();
}
