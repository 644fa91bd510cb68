// The program's main window with its port open and output stuck in the line (the far end
// never reads). A line on its standard input closes the main window as the
// operator would; tst_link times how long the process then takes to end.

#include "Fakes.h"
#include "PosixSerialDevice.h"
#include "TForm1.h"
#include "Terminal.h"
#include "Vars.h"

#include <QApplication>
#include <QSocketNotifier>

#include <unistd.h>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    Vars vars;
    RecordingMessages messages;
    TForm1 form1(vars, messages, PosixSerialDevice::create());
    form1.show();
    if (!form1.terminal().OpenComPort(QStringLiteral("Com1"), 1))
        return 2;
    form1.terminal().link().WriteComm(QByteArray(1 << 20, 'X'));
    form1.terminal().SpeedButton3Click();
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &form1, [&] {
        input.setEnabled(false);
        form1.close();
    });
    return application.exec();
}
