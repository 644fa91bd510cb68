#include "app/Station.h"

#include "shared/OperatorMessages.h"

namespace {

std::unique_ptr<OperatorJournal> journalOf(std::optional<OperatorJournal::Settings>& settings) {
    if (!settings)
        return nullptr;
    return std::make_unique<OperatorJournal>(std::move(*settings));
}

} // namespace

Station::Station(Vars& vars, OperatorMessages& messages, Settings settings)
    : m_vars(vars), m_journal(journalOf(settings.journal)),
      m_terminal(vars, std::move(settings.device),
                 {m_timerWaitEnd, m_timerStr, m_lineRetry, m_lineWait}, messages, reports()),
      m_web(m_terminal.dispatcher(), settings.workingDirectory, std::move(settings.http),
            m_webTimer, std::move(settings.webClock), reports()) {
    if (m_journal)
        QObject::connect(m_journal.get(), &OperatorJournal::trouble, m_journal.get(),
                         [&messages](const QString& text) { messages.failure(text); });
}

// The web service goes first (it releases the requests that wait for the queue), then the
// line, and the journal last, so that it records how both ended.
Station::~Station() = default;
