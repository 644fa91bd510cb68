#include "MessageBoxes.h"
#include "PosixSerialDevice.h"
#include "TForm1.h"
#include "TForm2.h"
#include "TForm3.h"
#include "TFormDel.h"
#include "Terminal.h"
#include "Vars.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KORVANT"));

    Vars vars;
    MessageBoxes messages;
    // The windows in their start-up order; only the main window is shown.
    TForm1 form1(vars, messages, PosixSerialDevice::create());
    TForm2 form2(form1.terminal(), messages, &form1);
    TForm3 form3(&form1);
    TFormDel formDel(&form1);
    form1.setWindows(&form2, &form3, &formDel);

    form1.show();
    return application.exec();
}
