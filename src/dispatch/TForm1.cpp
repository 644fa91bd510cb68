#include "TForm1.h"

#include "Console.h"
#include "Cp1251.h"
#include "DesignScale.h"
#include "Dispatcher.h"
#include "Lamps.h"
#include "OperatorMessages.h"
#include "SerialDevice.h"
#include "TForm2.h"
#include "Terminal.h"
#include "Vars.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStyle>
#include <QToolButton>

namespace {

const char* const NO_COMMAND_TEXT = "Нет команды";

QToolButton* makeSpeedButton(QWidget* parent, const char* name, const QString& hint) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoRaise(true);
    button->setToolTip(hint);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

QLabel* makeLamp(QWidget* parent, const char* name, const QString& caption, const QString& hint) {
    auto* lamp = new QLabel(caption, parent);
    lamp->setObjectName(QString::fromLatin1(name));
    lamp->setToolTip(hint);
    lamp->setAlignment(Qt::AlignCenter);
    lamp->setFrameStyle(QFrame::Panel | QFrame::Raised);
    lamp->setAutoFillBackground(true);
    return lamp;
}

void setTextColour(QWidget* widget, const QColor& colour, bool bold) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::ButtonText, colour);
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    widget->setPalette(palette);
    QFont font = widget->font();
    font.setBold(bold);
    widget->setFont(font);
}

} // namespace

TForm1::TForm1(Vars& vars, OperatorMessages& messages, std::unique_ptr<SerialDevice> device,
               QWidget* parent)
    : QMainWindow(parent), m_vars(vars), m_messages(messages) {
    setObjectName(QStringLiteral("TForm1"));
    setWindowTitle(QStringLiteral(" KORVANT V.3.0"));
    auto* client = new QWidget(this);
    setCentralWidget(client);
    const DesignScale scale(*this);
    client->setFixedSize(scale(CLIENT_WIDTH), scale(CLIENT_HEIGHT));

    buildToolbar(client);
    buildCommandArea(client);

    m_console = new Console(*Memo1, this);
    m_terminal = std::make_unique<Terminal>(vars, std::move(device), m_timerWaitEnd, m_timerStr,
                                            *m_console, messages);
    connect(m_terminal.get(), &Terminal::ctsChanged, this, &TForm1::WMPostCTS);
    connect(m_terminal.get(), &Terminal::dsrChanged, this, &TForm1::WMPostDSR);
    connect(m_terminal.get(), &Terminal::portOpened, this, [this] {
        WMPostCTS();
        WMPostDSR();
    });
    connect(m_terminal.get(), &Terminal::portClosed, this, [this] {
        resetLamps();
        if (m_portWindow)
            m_portWindow->showPortState();
    });
    resetLamps();
}

TForm1::~TForm1() = default;

void TForm1::setPortWindow(TForm2* window) {
    m_portWindow = window;
}

void TForm1::buildToolbar(QWidget* client) {
    const DesignScale scale(*this);
    Panel1 = new QWidget(client);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    scale.place(Panel1, 0, 0, CLIENT_WIDTH, 41);

    SpeedButton1 = makeSpeedButton(Panel1, "SpeedButton1", QStringLiteral("Порт"));
    SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_DriveNetIcon));
    scale.place(SpeedButton1, 16, 6, 30, 30);
    connect(SpeedButton1, &QToolButton::clicked, this, &TForm1::SpeedButton1Click);

    SpeedButton3 = makeSpeedButton(Panel1, "SpeedButton3", QStringLiteral("Стоп передача с АТС"));
    SpeedButton3->setText(QStringLiteral("STOP"));
    setTextColour(SpeedButton3, QColor(255, 0, 0), true);
    scale.place(SpeedButton3, 88, 6, 57, 30);
    connect(SpeedButton3, &QToolButton::clicked, this, &TForm1::SpeedButton3Click);

    Panel3 = makeLamp(Panel1, "Panel3", QStringLiteral("CTS"), QStringLiteral("Вывод:8 - DB 9"));
    scale.place(Panel3, 896, 6, 38, 28);
    Panel2 = makeLamp(Panel1, "Panel2", QStringLiteral("DSR"), QStringLiteral("Вывод:6 - DB-9"));
    scale.place(Panel2, 938, 6, 38, 28);
}

void TForm1::buildCommandArea(QWidget* client) {
    const DesignScale scale(*this);
    ComboBox1 = new QComboBox(client);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->lineEdit()->setMaxLength(CommandLineText::capacity());
    ComboBox1->lineEdit()->installEventFilter(this);
    scale.place(ComboBox1, 104, 41, 377, 33);

    Memo1 = new QPlainTextEdit(client);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont consoleFont(QStringLiteral("Liberation Mono"));
    consoleFont.setStyleHint(QFont::Monospace);
    scale.setPixelHeight(consoleFont, 18);
    Memo1->setFont(consoleFont);
    scale.place(Memo1, 9, 73, 576, 424);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ComboBox1->lineEdit() && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            BitBtn1Click();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// Execute: the port is tested first, then the text; the text is queued as typed.
void TForm1::BitBtn1Click() {
    if (m_vars.PortOpen == 0) {
        m_messages.error(QString::fromUtf8(PORT_NOT_OPEN_TEXT));
        return;
    }
    const QByteArray text = Cp1251::fromUnicode(ComboBox1->currentText());
    if (text.isEmpty()) {
        m_messages.error(QString::fromUtf8(NO_COMMAND_TEXT));
        ComboBox1->setFocus();
        return;
    }
    m_vars.LastCommand.assign(text);
    if (m_terminal->dispatcher().appendConsole(text) == Dispatcher::Append::QueueFull) {
        m_messages.error(QString::fromUtf8(QUEUE_FULL_TEXT));
        return;
    }
    ComboBox1->clearEditText();
    ComboBox1->setFocus();
}

void TForm1::SpeedButton1Click() {
    if (m_portWindow)
        m_portWindow->exec();
    if (m_vars.PortOpen != 0) {
        WMPostCTS();
        WMPostDSR();
    }
}

void TForm1::SpeedButton3Click() {
    m_terminal->SpeedButton3Click();
}

void TForm1::WMPostCTS() {
    showLamp(Panel3, &ModemLines::cts);
}

void TForm1::WMPostDSR() {
    showLamp(Panel2, &ModemLines::dsr);
}

void TForm1::showLamp(QLabel* lamp, bool ModemLines::*line) {
    const auto lines = m_vars.PortOpen != 0 ? m_terminal->modemLines() : std::nullopt;
    paintLamp(lamp, lampState(lines, line));
}

void TForm1::paintLamp(QLabel* lamp, LampState state) {
    QPalette palette = lamp->palette();
    palette.setColor(QPalette::Window, lampColour(state, style()->standardPalette()));
    lamp->setPalette(palette);
}

void TForm1::resetLamps() {
    paintLamp(Panel3, LampState::Idle);
    paintLamp(Panel2, LampState::Idle);
}

void TForm1::closeEvent(QCloseEvent* event) {
    m_terminal->closePort();
    QMainWindow::closeEvent(event);
}
