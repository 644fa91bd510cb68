#include "MessageBoxes.h"
#include "PosixSerialDevice.h"
#include "TForm1.h"
#include "TForm2.h"
#include "Terminal.h"
#include "Vars.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KORVANT"));
    QApplication::setApplicationDisplayName(QStringLiteral("KORVANT"));

    Vars vars;
    MessageBoxes messages;
    // The windows in their start-up order: main window first, then the port window.
    TForm1 form1(vars, messages, PosixSerialDevice::create());
    TForm2 form2(form1.terminal(), &form1);
    form1.setPortWindow(&form2);

    form1.show();
    return application.exec();
}
