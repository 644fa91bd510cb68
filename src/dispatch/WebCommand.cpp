#include "WebCommand.h"

void WebCommand::addLine(const ReplyLine& line) {
    std::lock_guard lock(m_mutex);
    if (m_outcome == Outcome::Waiting && m_lines.size() < CAPTURE_LINES)
        m_lines.append(line.bytes());
}

void WebCommand::finish(Outcome outcome) {
    {
        std::lock_guard lock(m_mutex);
        if (m_outcome != Outcome::Waiting)
            return;
        m_outcome = outcome;
    }
    m_released.notify_all();
}

WebCommand::Outcome WebCommand::wait() {
    std::unique_lock lock(m_mutex);
    m_released.wait(lock, [this] { return m_outcome != Outcome::Waiting; });
    return m_outcome;
}

WebCommand::Outcome WebCommand::waitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    m_released.wait_for(lock, timeout, [this] { return m_outcome != Outcome::Waiting; });
    return m_outcome;
}

WebCommand::Outcome WebCommand::outcome() const {
    std::lock_guard lock(m_mutex);
    return m_outcome;
}

QList<QByteArray> WebCommand::lines() const {
    std::lock_guard lock(m_mutex);
    return m_lines;
}
