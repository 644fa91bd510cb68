#include "app/FolderLock.h"
#include "app/ProgramEnd.h"
#include "app/ProgramWindows.h"
#include "app/Station.h"
#include "journal/OperatorJournal.h"
#include "link/PortDevice.h"
#include "shared/MessageBoxes.h"
#include "shared/Vars.h"
#include "web/WebService.h"

#include <QApplication>
#include <QDir>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KORVANT"));

    MessageBoxes messages;
    FolderLock folder(QDir::currentPath());
    if (!folder.acquire(messages))
        return 1;
    Vars vars;
    Station station(
        vars, messages,
        {PortDevice::create(), QDir::currentPath(), WebService::configuredSettings(),
         OperatorJournal::Settings{QDir::current().filePath(QStringLiteral("Journal.db")),
                                   OperatorJournal::systemClock,
                                   {}}});
    ProgramWindows windows(station, messages, QDir::currentPath());
    const ProgramEnd end(windows.form1, *station.journal());
    windows.form1.show();
    return application.exec();
}
