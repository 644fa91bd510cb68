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
//  - The display lost: Qt's X11 platform then ends the program with exit(), which leaves
//    every object of main() standing and runs the exit handlers; ours closes the port and
//    finishes the journal. (Qt's Wayland platform ends it with _exit(), which runs none.)
// One at a time; its destructor puts the signals' own handling back and disarms the exit
// handler.
class ProgramEnd final : public QObject {
    Q_OBJECT
public:
    ProgramEnd(TForm1& mainWindow, OperatorJournal& journal);
    ~ProgramEnd() override;
    ProgramEnd(const ProgramEnd&) = delete;
    ProgramEnd& operator=(const ProgramEnd&) = delete;

private:
    void signalled();
    void atExit();
    static void onExit();

    TForm1& m_mainWindow;
    OperatorJournal& m_journal;
    QSocketNotifier* m_notifier = nullptr;
};
