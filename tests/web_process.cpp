// The program's windows as main.cpp assembles them, with the journal, offscreen, working in
// the current folder and listening on any free port. Once the main window is up it prints
// "port N"; a line on its standard input then closes the main window as the operator would. tst_hostile attacks
// its web server from outside, so that the attacking clients' own buffers never count as
// the program's memory.

#include "Fakes.h"
#include "OperatorJournal.h"
#include "PosixSerialDevice.h"
#include "ProgramWindows.h"
#include "Vars.h"
#include "WebService.h"

#include <QApplication>
#include <QDir>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>

#include <unistd.h>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    Vars vars;
    RecordingMessages messages;
    OperatorJournal journal(
        {QDir::current().filePath(QStringLiteral("Journal.db")), OperatorJournal::systemClock, {}});
    ProgramWindows windows(vars, messages, PosixSerialDevice::create(), QDir::currentPath(), {},
                           journal);
    windows.form1.show();
    if (!windows.formWeb.service().isListening())
        return 2;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &windows.form1, [&] {
        input.setEnabled(false);
        windows.form1.close();
    });
    QTimer::singleShot(0, [&] {
        journal.flush(); // its writer has settled: what it holds is not the attack's
        std::printf("port %d\n", windows.formWeb.service().port());
        std::fflush(stdout);
    });
    return application.exec();
}
