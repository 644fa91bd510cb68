// The program as main.cpp assembles it, with the journal and the folder's lock, offscreen
// (or on the display its environment names), working in the current folder and listening
// on any free port; with the argument "open" it opens COM1 first. Once the main window is
// up it prints "port N"; a line on its standard input then closes the main window as the
// operator would, and the signals end it as they end the program. A second start in a
// folder in use prints what the operator would be told, and ends with 3. tst_hostile
// attacks its web server from outside, so that the attacking clients' own buffers never
// count as the program's memory; tst_journal ends it in every way the program may end.

#include "Fakes.h"
#include "app/FolderLock.h"
#include "app/ProgramEnd.h"
#include "app/ProgramWindows.h"
#include "app/Station.h"
#include "dispatch/Terminal.h"
#include "journal/OperatorJournal.h"
#include "link/PosixSerialDevice.h"
#include "shared/Vars.h"
#include "web/WebService.h"

#include <QApplication>
#include <QDir>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>

#include <unistd.h>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    RecordingMessages messages;
    FolderLock folder(QDir::currentPath());
    if (!folder.acquire(messages)) {
        std::printf("%s\n", qPrintable(messages.shown.join(QLatin1Char('\n'))));
        return 3;
    }
    Vars vars;
    Station station(
        vars, messages,
        {PosixSerialDevice::create(),
         QDir::currentPath(),
         {},
         OperatorJournal::Settings{QDir::current().filePath(QStringLiteral("Journal.db")),
                                   OperatorJournal::systemClock,
                                   {}}});
    ProgramWindows windows(station, messages, QDir::currentPath());
    const ProgramEnd end(windows.form1, *station.journal());
    windows.form1.show();
    if (!windows.formWeb.service().isListening())
        return 2;
    if (argc > 1 && qstrcmp(argv[1], "open") == 0 &&
        !windows.form1.terminal().OpenComPort(QStringLiteral("Com1"), 1))
        return 4;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &windows.form1, [&] {
        input.setEnabled(false);
        windows.form1.close();
    });
    QTimer::singleShot(0, [&] {
        station.journal()->flush(); // its writer has settled: what it holds is not the attack's
        std::printf("port %d\n", windows.formWeb.service().port());
        std::fflush(stdout);
    });
    return application.exec();
}
