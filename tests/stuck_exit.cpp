// The program's main window with its port open and output stuck in the line (the far end
// never reads). Once the window is shown and the event loop runs, it prints "ready"; a line
// on its standard input then closes the main window as the operator would, and tst_link
// times how long the process takes to end.

#include "Fakes.h"
#include "app/Station.h"
#include "app/TForm1.h"
#include "dispatch/Terminal.h"
#include "link/PosixSerialDevice.h"
#include "shared/Vars.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>

#include <cstdio>

#include <unistd.h>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    Vars vars;
    RecordingMessages messages;
    Station station(vars, messages, {PosixSerialDevice::create(), {}, {}, {}});
    TForm1 form1(station, messages);
    form1.show();
    if (!form1.terminal().OpenComPort(QStringLiteral("Com1"), 1))
        return 2;
    form1.terminal().link().WriteComm(QByteArray(1 << 20, 'X'));
    form1.terminal().sendStop();
    if (!QTest::qWaitForWindowExposed(&form1))
        return 3;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &form1, [&] {
        input.setEnabled(false);
        form1.close();
    });
    QTimer::singleShot(0, [] {
        std::puts("ready");
        std::fflush(stdout);
    });
    return application.exec();
}
