#pragma once

#include "Lamps.h"
#include "Timer.h"

#include <QMainWindow>

#include <memory>

class Console;
class OperatorMessages;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QToolButton;
class QWidget;
class SerialDevice;
class TForm2;
class Terminal;
struct Vars;

// The operator's main window: toolbar, command line, console. It owns the terminal's
// logic (Terminal) and its timers, forwards the operator's actions to it and shows what
// it reports; the logic itself lives in plain classes.
class TForm1 final : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int CLIENT_WIDTH = 979; // design pixels
    static constexpr int CLIENT_HEIGHT = 614;

    TForm1(Vars& vars, OperatorMessages& messages, std::unique_ptr<SerialDevice> device,
           QWidget* parent = nullptr);
    ~TForm1() override;

    Terminal& terminal() { return *m_terminal; }
    Console& console() { return *m_console; }
    TForm2& portWindow() { return *m_portWindow; }
    void setPortWindow(TForm2* window);

    // Toolbar Panel1.
    QWidget* Panel1 = nullptr;
    QToolButton* SpeedButton1 = nullptr; // port window
    QToolButton* SpeedButton3 = nullptr; // STOP
    QLabel* Panel3 = nullptr;            // CTS lamp
    QLabel* Panel2 = nullptr;            // DSR lamp
    QComboBox* ComboBox1 = nullptr;      // the command line
    QPlainTextEdit* Memo1 = nullptr;     // the console

    void SpeedButton1Click();
    void SpeedButton3Click();
    void BitBtn1Click();
    void WMPostCTS();
    void WMPostDSR();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildToolbar(QWidget* client);
    void buildCommandArea(QWidget* client);
    void showLamp(QLabel* lamp, bool ModemLines::*line);
    void paintLamp(QLabel* lamp, LampState state);
    void resetLamps();

    Vars& m_vars;
    OperatorMessages& m_messages;
    QtTimer m_timerWaitEnd{5000}; // TimerWaitEnd: the reply wait
    QtTimer m_timerStr{1000};     // TimerStr: console trimming
    Console* m_console = nullptr;
    std::unique_ptr<Terminal> m_terminal;
    TForm2* m_portWindow = nullptr;
};
