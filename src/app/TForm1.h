#pragma once

#include "dispatch/Console.h"
#include "dispatch/FontChooser.h"
#include "dispatch/Journal.h"
#include "link/Lamps.h"
#include "shared/Timer.h"

#include <QMainWindow>

#include <memory>

class HelpWindow;
class ModuleSheet;
class OperatorMessages;
class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QToolButton;
class QWidget;
class Station;
class SubscriberSheet;
class SystemSheet;
class TForm2;
class TForm3;
class TFormDel;
class TFormJournal;
class TFormWeb;
class Terminal;
struct Vars;

// The operator's main window: toolbar, command line with its history, console and the
// three command pages. It forwards the operator's actions to the station's terminal and
// shows what it reports; its console shows the reply lines.
class TForm1 final : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int CLIENT_WIDTH = 979; // design pixels at 120 pixels per inch
    static constexpr int CLIENT_HEIGHT = 614;

    TForm1(Station& station, OperatorMessages& messages, QWidget* parent = nullptr);
    ~TForm1() override;

    Terminal& terminal() { return m_terminal; }
    Console& console() { return *m_console; }
    // The windows created after this one, in the start-up order.
    void setWindows(TForm2* portWindow, TForm3* about, TFormDel* question);
    void setFontChooser(FontChooser* chooser) { m_fontChooser = chooser; }
    // The web access window, created after the About window, which the menu item "Web"
    // shows. The server switch BitBtn11 and the lamp Panel4 serve the station's web service.
    void setWebWindow(TFormWeb* web);
    // The journal window, which the menu item "Журнал" shows; its reply pane follows the
    // console's font.
    void setJournalWindow(TFormJournal* journal);

    // Toolbar Panel1.
    QWidget* Panel1 = nullptr;
    QToolButton* SpeedButton1 = nullptr; // port window
    QToolButton* SpeedButton2 = nullptr; // console font
    QToolButton* SpeedButton3 = nullptr; // STOP
    QToolButton* SpeedButton6 = nullptr; // MTA
    QToolButton* SpeedButton4 = nullptr; // MTW
    QLineEdit* Edit1 = nullptr;          // prefix to the subscriber number
    QPushButton* BitBtn11 = nullptr;     // web server switch
    QLabel* Panel4 = nullptr;            // web lamp
    QLabel* Panel3 = nullptr;            // CTS lamp
    QLabel* Panel2 = nullptr;            // DSR lamp
    // Command line and console.
    QPushButton* BitBtn7 = nullptr; // recall
    QComboBox* ComboBox1 = nullptr; // the command line; its list is the command history
    QPushButton* BitBtn1 = nullptr; // execute
    QPlainTextEdit* Memo1 = nullptr;
    QTabWidget* PageControl1 = nullptr;
    SubscriberSheet* TabSheet1 = nullptr;
    ModuleSheet* TabSheet2 = nullptr;
    SystemSheet* TabSheet3 = nullptr;
    // Menu.
    QAction* Help1 = nullptr;
    QAction* About1 = nullptr;
    QAction* Web1 = nullptr;
    QAction* Journal1 = nullptr;

    void FormCreate();
    void FormActivate();
    void BitBtn1Click();
    void BitBtn7Click();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton6Click();
    void SpeedButton4Click();
    void Help1Click();
    void About1Click();
    void Web1Click();
    void Journal1Click();
    void BitBtn11Click();
    void TimerReadyWebTimer();
    void WMPostCTS();
    void WMPostDSR();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenu();
    void buildToolbar(QWidget* client);
    void buildCommandArea(QWidget* client);
    void buildPages(QWidget* client);
    void showLamp(QLabel* lamp, bool ModemLines::*line);
    void paintLamp(QLabel* lamp, LampState state);
    void paintLamp(QLabel* lamp, const QColor& colour);
    void resetLamps();
    void showLineState();
    void showWebLamp();
    void showServerSwitch(bool listening);
    void addToHistory(const QString& command);
    void watchKeys(QComboBox* combo);

    Station& m_station;
    Vars& m_vars;
    Terminal& m_terminal;
    OperatorMessages& m_messages;
    QtTimer m_consoleFrame{Console::FRAME_MS}; // the console's frames
    std::unique_ptr<Console> m_console;
    TForm2* m_portWindow = nullptr;
    TForm3* m_about = nullptr;
    TFormDel* m_question = nullptr;
    TFormWeb* m_web = nullptr;
    TFormJournal* m_journalWindow = nullptr;
    HelpWindow* m_help = nullptr;
    FontDialogChooser m_fontDialog;
    FontChooser* m_fontChooser = &m_fontDialog;
    ConsoleFont m_fontDialogFont; // FontDialog1's own starting point
    bool m_activated = false;
    bool m_placed = false;
};
