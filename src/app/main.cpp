#include "MessageBoxes.h"
#include "OperatorJournal.h"
#include "PortDevice.h"
#include "ProgramWindows.h"
#include "Vars.h"
#include "WebService.h"

#include <QApplication>
#include <QDir>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KORVANT"));

    Vars vars;
    MessageBoxes messages;
    OperatorJournal journal(
        {QDir::current().filePath(QStringLiteral("Journal.db")), OperatorJournal::systemClock, {}});
    ProgramWindows windows(vars, messages, PortDevice::create(), QDir::currentPath(),
                           WebService::configuredSettings(), journal);
    windows.form1.show();
    return application.exec();
}
