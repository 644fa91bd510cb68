#pragma once

#include <QDialog>

#include <cstdint>

class OperatorMessages;
class PortControl;
class QGroupBox;
class QLabel;
class QPushButton;
struct LineSettings;

// The port window "Настройка порта": opens COM1 or COM2, closes the port, and offers the
// line settings of the open port. Its group box shows the state: "OpenComPort" in blue
// with no port open, "OpenComPort = " + name in red with one open. Below the buttons it
// names a terminal server's address, and says so while the open port waits for its lost
// line (Close then ends the waiting).
class TForm2 final : public QDialog {
    Q_OBJECT
public:
    TForm2(PortControl& port, OperatorMessages& messages, QWidget* parent = nullptr);

    // Shows the port's state; called after every open and close, whoever caused it.
    void showPortState();

    QGroupBox* GroupBox1 = nullptr;
    QPushButton* Button1 = nullptr; // COM1
    QPushButton* Button2 = nullptr; // COM2
    QPushButton* Button3 = nullptr; // Close
    QPushButton* Button4 = nullptr; // Dialog
    QPushButton* Button5 = nullptr; // OK
    QLabel* Label1 = nullptr;       // the remote address; waiting for the line

    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Button5Click();

private:
    void OpenComPort(const QString& name, std::uint8_t number);
    void showLineState();
    void editLineSettings(const LineSettings& current);

    PortControl& m_port;
    OperatorMessages& m_messages;
};
