#include "link/TForm2.h"

#include "link/Lamps.h"
#include "link/PortControl.h"
#include "link/PortSettingsDialog.h"
#include "shared/OperatorMessages.h"
#include "shared/Widgets.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TForm2::TForm2(PortControl& port, OperatorMessages& messages, QWidget* parent)
    : QDialog(parent), m_port(port), m_messages(messages) {
    setObjectName(QStringLiteral("TForm2"));
    setWindowTitle(QStringLiteral("Настройка порта"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    Button1 = Widgets::pushButton(GroupBox1, "Button1", QStringLiteral("COM1"));
    Button2 = Widgets::pushButton(GroupBox1, "Button2", QStringLiteral("COM2"));
    Button3 = Widgets::pushButton(GroupBox1, "Button3", QStringLiteral("Close"));
    Button4 = Widgets::pushButton(GroupBox1, "Button4", QStringLiteral("Dialog"));
    Button5 = Widgets::pushButton(GroupBox1, "Button5", QStringLiteral("OK"));
    Label1 = Widgets::label(GroupBox1, "Label1", {});
    Label1->setWordWrap(true);

    auto* grid = new QGridLayout(GroupBox1);
    grid->addWidget(Button1, 0, 0);
    grid->addWidget(Button2, 0, 1);
    grid->addWidget(Button3, 1, 0);
    grid->addWidget(Button4, 1, 1);
    grid->addWidget(Button5, 2, 0, 1, 2);
    grid->addWidget(Label1, 3, 0, 1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(GroupBox1);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    GroupBox1->setMinimumWidth(240); // room for "OpenComPort = Com1" and the caption

    connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm2::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TForm2::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &TForm2::Button5Click);
    showPortState();
}

void TForm2::showPortState() {
    const bool open = m_port.portIsOpen();
    GroupBox1->setTitle(open ? QStringLiteral("OpenComPort = ") + m_port.portName()
                             : QStringLiteral("OpenComPort"));
    QPalette palette = GroupBox1->palette();
    palette.setColor(QPalette::WindowText, open ? QColor(255, 0, 0) : QColor(0, 0, 255));
    GroupBox1->setPalette(palette);
    Button1->setEnabled(!open);
    Button2->setEnabled(!open);
    Button3->setEnabled(open);
    Button4->setEnabled(open && !m_port.lineWaiting());
    showLineState();
}

// A local port's line needs no words while it is there, so the window looks as it always has.
void TForm2::showLineState() {
    QStringList said;
    if (m_port.portIsRemote())
        said << m_port.portDevice();
    if (m_port.lineWaiting())
        said << QString::fromUtf8(LINE_WAITING_TEXT);
    Label1->setText(said.join(QLatin1Char('\n')));
    Label1->setVisible(!said.isEmpty());
}

void TForm2::OpenComPort(const QString& name, std::uint8_t number) {
    m_port.OpenComPort(name, number);
    showPortState();
}

void TForm2::Button1Click() {
    OpenComPort(QStringLiteral("Com1"), 1);
}

void TForm2::Button2Click() {
    OpenComPort(QStringLiteral("Com2"), 2);
}

void TForm2::Button3Click() {
    m_port.closePort();
    showPortState();
}

// The settings are applied whatever the operator chose: a cancelled dialog applies the
// settings as they were read. The port window closes in every case.
void TForm2::Button4Click() {
    if (const auto current = m_port.lineSettings())
        editLineSettings(*current);
    else
        m_messages.plain(QStringLiteral("Не удалось прочитать настройки порта ") +
                         m_port.portName());
    accept();
}

void TForm2::editLineSettings(const LineSettings& current) {
    PortSettingsDialog dialog(m_port.portName(), current, this);
    const bool confirmed = dialog.exec() == QDialog::Accepted;
    // A terminal server's port takes only what RFC 2217 can say (not XON/XOFF with IXANY).
    if (!m_port.applyLineSettings(confirmed ? dialog.settings() : current))
        m_messages.plain(QStringLiteral("Параметры линии не применены: порт ") +
                         m_port.portName() + QStringLiteral(" не может их передать"));
}

void TForm2::Button5Click() {
    accept();
}
