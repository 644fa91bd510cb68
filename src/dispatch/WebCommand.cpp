#include "dispatch/WebCommand.h"

void WebCommand::addLine(const ReplyLine& line) {
    std::lock_guard lock(m_mutex);
    if (m_outcome == Outcome::Waiting && m_lines.size() < CAPTURE_LINES)
        m_lines.append(line.bytes());
}

void WebCommand::finish(Outcome outcome) {
    std::function<void()> observer;
    {
        std::lock_guard lock(m_mutex);
        if (m_outcome != Outcome::Waiting)
            return;
        m_outcome = outcome;
        observer = std::move(m_finished);
    }
    if (observer)
        observer();
}

void WebCommand::whenFinished(std::function<void()> observer) {
    {
        std::lock_guard lock(m_mutex);
        if (m_outcome == Outcome::Waiting) {
            m_finished = std::move(observer);
            return;
        }
    }
    observer();
}

WebCommand::Outcome WebCommand::outcome() const {
    std::lock_guard lock(m_mutex);
    return m_outcome;
}

QList<QByteArray> WebCommand::lines() const {
    std::lock_guard lock(m_mutex);
    return m_lines;
}
