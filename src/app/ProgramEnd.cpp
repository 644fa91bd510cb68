#include "app/ProgramEnd.h"

#include "app/TForm1.h"
#include "dispatch/Terminal.h"
#include "journal/OperatorJournal.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr int SIGNALS[] = {SIGTERM, SIGINT, SIGHUP};

int s_pipe[2] = {-1, -1};      // the handler writes, the window thread reads
ProgramEnd* s_armed = nullptr; // whose displayLost() the message handler calls, if any
QtMessageHandler s_qtHandler = nullptr;
// How Qt's X11 platform says, on the window thread, that it is about to end the program.
const QLatin1String DISPLAY_LOST("The X11 connection broke");

// Async-signal-safe: one write of one byte, errno kept.
void onSignal(int number) {
    const int saved = errno;
    const char byte = char(number);
    [[maybe_unused]] const ssize_t written = ::write(s_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

ProgramEnd::ProgramEnd(TForm1& mainWindow, OperatorJournal& journal)
    : m_mainWindow(mainWindow), m_journal(journal) {
    if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_notifier = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &ProgramEnd::signalled);
        struct sigaction action {};
        action.sa_handler = onSignal;
        action.sa_flags = SA_RESTART | SA_RESETHAND; // the second one ends the program
        sigemptyset(&action.sa_mask);
        for (const int number : SIGNALS)
            ::sigaction(number, &action, nullptr);
    }
    s_armed = this;
    s_qtHandler = qInstallMessageHandler(onMessage);
}

ProgramEnd::~ProgramEnd() {
    s_armed = nullptr;
    qInstallMessageHandler(s_qtHandler);
    if (m_notifier == nullptr)
        return;
    for (const int number : SIGNALS)
        std::signal(number, SIG_DFL);
    delete m_notifier;
    ::close(s_pipe[0]);
    ::close(s_pipe[1]);
    s_pipe[0] = s_pipe[1] = -1;
}

// The window thread: closing the main window closes the port; the event loop ends even
// while a message box waits for an answer.
void ProgramEnd::signalled() {
    char bytes[16];
    while (::read(s_pipe[0], bytes, sizeof bytes) > 0) {
    }
    m_mainWindow.close();
    QCoreApplication::quit();
}

// Every Qt message goes on to Qt's own handling, after the one that says the display is
// gone has been acted on.
void ProgramEnd::onMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtWarningMsg && text.startsWith(DISPLAY_LOST) && s_armed != nullptr &&
        QThread::currentThread() == s_armed->thread())
        std::exchange(s_armed, nullptr)->displayLost();
    s_qtHandler(type, context, text);
}

// What closing the main window and leaving main() would have done, without the windows,
// whose display is gone.
void ProgramEnd::displayLost() {
    m_mainWindow.terminal().closePort();
    m_journal.finish();
}
