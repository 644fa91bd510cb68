#include "ProgramEnd.h"

#include "OperatorJournal.h"
#include "TForm1.h"
#include "Terminal.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr int SIGNALS[] = {SIGTERM, SIGINT, SIGHUP};

int s_pipe[2] = {-1, -1};      // the handler writes, the window thread reads
ProgramEnd* s_armed = nullptr; // whose atExit() the exit handler calls, if any
bool s_exitHandlerInstalled = false;

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
    if (!s_exitHandlerInstalled)
        s_exitHandlerInstalled = std::atexit(onExit) == 0;
}

ProgramEnd::~ProgramEnd() {
    s_armed = nullptr;
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

void ProgramEnd::onExit() {
    if (ProgramEnd* armed = std::exchange(s_armed, nullptr))
        armed->atExit();
}

// What closing the main window and leaving main() would have done, without the windows:
// the display may be gone.
void ProgramEnd::atExit() {
    m_mainWindow.terminal().closePort();
    m_journal.finish();
}
