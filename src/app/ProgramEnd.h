#pragma once

#include <QObject>

class OperatorJournal;
class QSocketNotifier;
class TForm1;

// The ways the program ends other than the operator closing its main window, each made to
// end it as that close does, so that the port's closing and the commands still open reach
// the journal:
//  - SIGTERM (a shutdown or a logout), SIGINT and SIGHUP (the launching terminal closed)
//    close the main window and end the event loop, on the window thread: the handler only
//    writes the signal into a pipe that the window thread reads. A second signal of the same
//    kind ends the program at once, as it would have without us.
//  - The X display lost: Qt's X11 platform says so in a warning and then ends the program
//    with exit(), whose handlers would run after the program's static objects have begun to
//    go. The warning is heard on its way out, and the port is closed and the journal
//    finished then, before exit(). (Qt's Wayland platform ends it with _exit() unheard.)
// One at a time; its destructor puts the signals' and Qt messages' own handling back.
class ProgramEnd final : public QObject {
    Q_OBJECT
public:
    ProgramEnd(TForm1& mainWindow, OperatorJournal& journal);
    ~ProgramEnd() override;
    ProgramEnd(const ProgramEnd&) = delete;
    ProgramEnd& operator=(const ProgramEnd&) = delete;

private:
    void signalled();
    void displayLost();
    static void onMessage(QtMsgType type, const QMessageLogContext& context, const QString& text);

    TForm1& m_mainWindow;
    OperatorJournal& m_journal;
    QSocketNotifier* m_notifier = nullptr;
};
