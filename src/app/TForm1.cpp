#include "app/TForm1.h"

#include "app/HelpWindow.h"
#include "app/Station.h"
#include "app/TForm3.h"
#include "commands/CommandBuilders.h"
#include "commands/ModuleSheet.h"
#include "commands/SubscriberSheet.h"
#include "commands/SystemSheet.h"
#include "commands/TFormDel.h"
#include "dispatch/CommandLine.h"
#include "dispatch/CommandText.h"
#include "dispatch/Console.h"
#include "dispatch/Dispatcher.h"
#include "dispatch/Terminal.h"
#include "journal/TFormJournal.h"
#include "link/TForm2.h"
#include "shared/ActivationWatch.h"
#include "shared/Cp1251.h"
#include "shared/DesignScale.h"
#include "shared/Faces.h"
#include "shared/History.h"
#include "shared/OperatorMessages.h"
#include "shared/Vars.h"
#include "shared/Widgets.h"
#include "web/TFormWeb.h"
#include "web/WebService.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

namespace {

const char* const NO_COMMAND_TEXT = "Нет команды";
constexpr int HISTORY_ROWS = 12;         // rows of the command line's drop-down
constexpr int READY_WEB_DELAY_MS = 1000; // TimerReadyWeb: once, after start-up
const QColor WEB_LAMP_ON(255, 0, 0);
const QColor SERVER_LISTENING(255, 0, 0);
const QColor SERVER_OFF(0, 0, 255);

QToolButton* makeSpeedButton(QWidget* parent, const char* name, const QString& caption,
                             const QString& hint) {
    QToolButton* button = Widgets::toolButton(parent, name, caption, hint);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

const char* const CTS_HINT = "Вывод:8 - DB 9";
const char* const DSR_HINT = "Вывод:6 - DB-9";

QLabel* makeLamp(QWidget* parent, const char* name, const QString& caption, const QString& hint) {
    QLabel* lamp = Widgets::panel(parent, name, caption);
    lamp->setToolTip(hint);
    lamp->setAutoFillBackground(true);
    return lamp;
}

bool isRecallKey(const QKeyEvent* key) {
    return key->key() == Qt::Key_L && (key->modifiers() & Qt::ControlModifier);
}

bool isEnterKey(const QKeyEvent* key) {
    return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}

} // namespace

TForm1::TForm1(Station& station, OperatorMessages& messages, QWidget* parent)
    : QMainWindow(parent), m_station(station), m_vars(station.vars()),
      m_terminal(station.terminal()), m_messages(messages) {
    setObjectName(QStringLiteral("TForm1"));
    setWindowTitle(QStringLiteral(" KORVANT V.3.0"));
    setAttribute(Qt::WA_AlwaysShowToolTips);
    Faces::installSubstitutions(); // before the first font of any window is made
    const DesignScale scale(*this);
    setFont(Faces::designFont(QStringLiteral("MS Sans Serif"), 13, scale.factor()));
    // The dialog lists real faces, so it starts from the face that stands in for the design's.
    QFont dialogFont = Faces::designFont(QStringLiteral("MS Sans Serif"), 13, scale.factor());
    dialogFont.setFamily(QFontInfo(dialogFont).family());
    m_fontDialogFont = {dialogFont, QColor(Qt::black)};

    auto* client = new QWidget(this);
    setCentralWidget(client);
    client->setFixedSize(scale(CLIENT_WIDTH), scale(CLIENT_HEIGHT));
    buildMenu();
    buildToolbar(client);
    buildCommandArea(client);

    m_console = std::make_unique<Console>(*Memo1, m_consoleFrame);
    m_terminal.setConsole(m_console.get());
    connect(&m_terminal, &Terminal::ctsChanged, this, &TForm1::WMPostCTS);
    connect(&m_terminal, &Terminal::dsrChanged, this, &TForm1::WMPostDSR);
    connect(&m_terminal, &Terminal::portOpened, this, [this] {
        WMPostCTS();
        WMPostDSR();
    });
    connect(&m_terminal, &Terminal::portClosed, this, &TForm1::showLineState);
    connect(&m_terminal, &Terminal::lineGone, this, &TForm1::showLineState);
    connect(&m_terminal, &Terminal::lineReturned, this, &TForm1::showLineState);
    buildPages(client);
    resetLamps();
    WebService& web = m_station.web();
    connect(&web, &WebService::slotsChanged, this, &TForm1::showWebLamp);
    connect(&web, &WebService::listeningChanged, this, &TForm1::showServerSwitch);
    showServerSwitch(web.isListening());
    showWebLamp();
    // Only a return from the program's own windows is an activation; the first one, at
    // start-up, comes from nowhere.
    connect(new ActivationWatch(*this), &ActivationWatch::activated, this,
            [this](bool fromOwnWindow) {
                if (fromOwnWindow || !m_activated)
                    FormActivate();
            });
    FormCreate();
}

TForm1::~TForm1() {
    m_terminal.setConsole(nullptr);
}

void TForm1::setWindows(TForm2* portWindow, TForm3* about, TFormDel* question) {
    m_portWindow = portWindow;
    m_about = about;
    m_question = question;
    TabSheet2->setQuestion(question);
}

void TForm1::buildMenu() {
    Help1 = menuBar()->addAction(QStringLiteral("  Help"), this, &TForm1::Help1Click);
    About1 = menuBar()->addAction(QStringLiteral("About"), this, &TForm1::About1Click);
    Web1 = menuBar()->addAction(QStringLiteral("Web"), this, &TForm1::Web1Click);
    Journal1 = menuBar()->addAction(QStringLiteral("Журнал"), this, &TForm1::Journal1Click);
}

void TForm1::buildToolbar(QWidget* client) {
    const DesignScale scale(*this);
    auto* panel = new QFrame(client);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1 = panel;
    Panel1->setObjectName(QStringLiteral("Panel1"));
    scale.place(Panel1, 0, 0, CLIENT_WIDTH, 41);

    SpeedButton1 = makeSpeedButton(Panel1, "SpeedButton1", {}, QStringLiteral("Порт"));
    SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_DriveNetIcon));
    scale.place(SpeedButton1, 16, 6, 30, 30);
    connect(SpeedButton1, &QToolButton::clicked, this, &TForm1::SpeedButton1Click);

    SpeedButton2 = makeSpeedButton(Panel1, "SpeedButton2", {}, QStringLiteral("Шрифт"));
    SpeedButton2->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    scale.place(SpeedButton2, 52, 6, 30, 30);
    connect(SpeedButton2, &QToolButton::clicked, this, &TForm1::SpeedButton2Click);

    SpeedButton3 = makeSpeedButton(Panel1, "SpeedButton3", QStringLiteral("STOP"),
                                   QStringLiteral("Стоп передача с АТС"));
    Widgets::setTextColour(SpeedButton3, QColor(255, 0, 0), true);
    scale.place(SpeedButton3, 88, 6, 57, 30);
    connect(SpeedButton3, &QToolButton::clicked, this, &TForm1::SpeedButton3Click);

    SpeedButton6 =
        makeSpeedButton(Panel1, "SpeedButton6", QStringLiteral("MTA"), QStringLiteral("COR-MTA"));
    Widgets::setTextColour(SpeedButton6, QColor(0, 128, 0), true);
    scale.place(SpeedButton6, 464, 6, 49, 30);
    connect(SpeedButton6, &QToolButton::clicked, this, &TForm1::SpeedButton6Click);

    SpeedButton4 =
        makeSpeedButton(Panel1, "SpeedButton4", QStringLiteral("MTW"), QStringLiteral("COR-MTW"));
    Widgets::setTextColour(SpeedButton4, QColor(255, 0, 0), true);
    scale.place(SpeedButton4, 520, 6, 49, 30);
    connect(SpeedButton4, &QToolButton::clicked, this, &TForm1::SpeedButton4Click);

    Edit1 = new QLineEdit(Panel1);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setToolTip(QStringLiteral("Префикс к номеру"));
    Edit1->setFont(Faces::designFont(QStringLiteral("MS Sans Serif"), 17, scale.factor(), true));
    Widgets::setTextColour(Edit1, QColor(0, 128, 0));
    scale.place(Edit1, 584, 6, 41, 28);

    BitBtn11 = new QPushButton(QStringLiteral("Web"), Panel1);
    BitBtn11->setObjectName(QStringLiteral("BitBtn11"));
    BitBtn11->setAutoDefault(false);
    showServerSwitch(false);
    scale.place(BitBtn11, 640, 6, 49, 28);
    connect(BitBtn11, &QPushButton::clicked, this, &TForm1::BitBtn11Click);

    Panel4 = makeLamp(Panel1, "Panel4", QStringLiteral("WEB"), QStringLiteral("Connect"));
    scale.place(Panel4, 854, 6, 38, 28);
    Panel3 = makeLamp(Panel1, "Panel3", QStringLiteral("CTS"), QString::fromUtf8(CTS_HINT));
    scale.place(Panel3, 896, 6, 38, 28);
    Panel2 = makeLamp(Panel1, "Panel2", QStringLiteral("DSR"), QString::fromUtf8(DSR_HINT));
    scale.place(Panel2, 938, 6, 38, 28);
}

void TForm1::buildCommandArea(QWidget* client) {
    const DesignScale scale(*this);
    BitBtn7 = new QPushButton(QStringLiteral("Команда"), client);
    BitBtn7->setObjectName(QStringLiteral("BitBtn7"));
    BitBtn7->setToolTip(QStringLiteral("Последняя команда, Ctrl+L"));
    BitBtn7->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    BitBtn7->setLayoutDirection(Qt::RightToLeft); // the icon right of the text
    BitBtn7->setAutoDefault(false);
    scale.place(BitBtn7, 0, 40, 105, 33);
    connect(BitBtn7, &QPushButton::clicked, this, &TForm1::BitBtn7Click);

    ComboBox1 = Widgets::editableCombo(client, "ComboBox1");
    ComboBox1->setFont(Faces::designFont(QStringLiteral("MS Sans Serif"), 20, scale.factor()));
    Widgets::setTextColour(ComboBox1, QColor(0, 0, 255));
    ComboBox1->setMaxVisibleItems(HISTORY_ROWS);
    new CommandLineInput(*ComboBox1);
    watchKeys(ComboBox1);
    scale.place(ComboBox1, 104, 41, 377, 33);

    BitBtn1 = new QPushButton(QStringLiteral(" Выполнить"), client);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
    BitBtn1->setFont(Faces::designFont(QStringLiteral("MS Sans Serif"), 15, scale.factor()));
    Widgets::setTextColour(BitBtn1, QColor(0, 0, 128));
    BitBtn1->setAutoDefault(false);
    scale.place(BitBtn1, 480, 41, 105, 32);
    connect(BitBtn1, &QPushButton::clicked, this, &TForm1::BitBtn1Click);

    Memo1 = new QPlainTextEdit(client);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setFont(Faces::designFont(QStringLiteral("Courier New"), 18, scale.factor()));
    Memo1->installEventFilter(this);
    scale.place(Memo1, 9, 73, 576, 424);
}

void TForm1::buildPages(QWidget* client) {
    const DesignScale scale(*this);
    PageControl1 = new QTabWidget(client);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    scale.place(PageControl1, 584, 41, 392, 456);
    Dispatcher& dispatcher = m_terminal.dispatcher();
    TabSheet1 = new SubscriberSheet(dispatcher, *Edit1, *ComboBox1);
    TabSheet2 = new ModuleSheet(dispatcher, *ComboBox1);
    TabSheet3 = new SystemSheet(dispatcher, *ComboBox1);
    PageControl1->addTab(TabSheet1, QStringLiteral("Номера"));
    PageControl1->addTab(TabSheet2, QStringLiteral("Модули"));
    PageControl1->addTab(TabSheet3, QStringLiteral("Система"));
    PageControl1->setCurrentIndex(0);
    watchKeys(TabSheet1->ComboBox2);
}

void TForm1::FormCreate() {
    m_terminal.dispatcher().clearWebReplyReady();
    TabSheet1->fillParameterList();
    QTimer::singleShot(READY_WEB_DELAY_MS, this, &TForm1::TimerReadyWebTimer);
}

void TForm1::TimerReadyWebTimer() {
    m_terminal.dispatcher().clearWebReplyReady();
}

void TForm1::setWebWindow(TFormWeb* web) {
    m_web = web;
}

void TForm1::Web1Click() {
    if (m_web)
        m_web->Web1Click();
}

void TForm1::setJournalWindow(TFormJournal* journal) {
    m_journalWindow = journal;
    journal->setReplyFont({Memo1->font(), Memo1->palette().color(QPalette::Text)});
}

void TForm1::Journal1Click() {
    if (m_journalWindow)
        m_journalWindow->Journal1Click();
}

// The server switch: off frees every slot; on starts listening, or says why it cannot.
void TForm1::BitBtn11Click() {
    WebService& service = m_station.web();
    if (service.isListening()) {
        service.switchOff();
        return;
    }
    const QString failure = service.switchOn();
    if (!failure.isEmpty())
        m_messages.failure(failure);
}

// Red while a browser client holds a slot.
void TForm1::showWebLamp() {
    const bool occupied = m_station.web().webSlots().ConnectionCount() > 0;
    paintLamp(Panel4,
              occupied ? WEB_LAMP_ON : lampColour(LampState::Idle, style()->standardPalette()));
}

// The caption is red while the server listens, blue while it does not.
void TForm1::showServerSwitch(bool listening) {
    Widgets::setTextColour(BitBtn11, listening ? SERVER_LISTENING : SERVER_OFF, true);
}

// The first activation fills the pick lists; every activation gives the command line the focus.
void TForm1::FormActivate() {
    if (!m_activated) {
        m_activated = true;
        TabSheet1->fillPickLists();
        TabSheet2->fillPickLists();
    }
    ComboBox1->setFocus();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (isRecallKey(key)) {
            BitBtn7Click();
            return true;
        }
        const bool onCommandLine = watched == ComboBox1 || watched == ComboBox1->lineEdit();
        if (onCommandLine && isEnterKey(key)) {
            BitBtn1Click();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// A combo box hands the keys it gets to its line edit without passing filters, so both
// are watched.
void TForm1::watchKeys(QComboBox* combo) {
    combo->installEventFilter(this);
    combo->lineEdit()->installEventFilter(this);
}

// Centred on the desktop when first shown.
void TForm1::showEvent(QShowEvent* event) {
    if (!m_placed) {
        m_placed = true;
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
    }
    QMainWindow::showEvent(event);
}

// Execute: the port is tested first, then the text; the text is queued as it stands.
void TForm1::BitBtn1Click() {
    const QString command = ComboBox1->currentText();
    if (m_terminal.PortOpen() == 0) {
        if (!command.isEmpty())
            m_station.reports().commandRefused(Refusal::PortNotOpen, CommandSource::Typed, {},
                                               Cp1251::fromUnicode(command));
        m_messages.error(QString::fromUtf8(PORT_NOT_OPEN_TEXT));
        return;
    }
    if (command.isEmpty()) {
        m_messages.error(QString::fromUtf8(NO_COMMAND_TEXT));
        ComboBox1->setFocus();
        return;
    }
    // A command that the line cannot carry stays on the command line to be corrected;
    // nothing else changes.
    const QByteArray text = Cp1251::fromUnicode(command);
    const auto appended = m_terminal.dispatcher().appendConsole(text);
    if (appended == Dispatcher::Append::Refused) {
        m_messages.error(CommandText::refusalText(*CommandText::unsafeByte(text)));
        ComboBox1->setFocus();
        return;
    }
    m_vars.LastCommand.assign(text);
    if (appended == Dispatcher::Append::QueueFull) {
        m_messages.error(QString::fromUtf8(QUEUE_FULL_TEXT));
        return;
    }
    addToHistory(command);
    ComboBox1->clearEditText();
    ComboBox1->setFocus();
}

void TForm1::addToHistory(const QString& command) {
    Widgets::setList(ComboBox1, History::added(Widgets::list(ComboBox1), command));
}

// Recall: the whole LastCommand, up to 35 characters, into the command line; nothing runs.
void TForm1::BitBtn7Click() {
    ComboBox1->setEditText(Cp1251::toUnicode(m_vars.LastCommand.view()));
    ComboBox1->setFocus();
}

void TForm1::SpeedButton1Click() {
    if (m_portWindow)
        m_portWindow->exec();
    if (m_terminal.PortOpen() != 0) {
        WMPostCTS();
        WMPostDSR();
    }
}

// The console takes the chosen font and colour; the dialog keeps its own starting point.
void TForm1::SpeedButton2Click() {
    const auto chosen = m_fontChooser->choose(m_fontDialogFont, this);
    if (!chosen)
        return;
    m_fontDialogFont = *chosen;
    Memo1->setFont(chosen->font);
    Widgets::setTextColour(Memo1, chosen->colour);
    if (m_journalWindow)
        m_journalWindow->setReplyFont(*chosen);
}

void TForm1::SpeedButton3Click() {
    m_terminal.sendStop();
}

void TForm1::SpeedButton6Click() {
    m_terminal.dispatcher().QueueCommand(Commands::corMta().view());
    ComboBox1->setFocus();
}

void TForm1::SpeedButton4Click() {
    m_terminal.dispatcher().QueueCommand(Commands::corMtw().view());
    ComboBox1->setFocus();
}

void TForm1::Help1Click() {
    if (!m_help)
        m_help = new HelpWindow(this);
    const QString file = HelpWindow::helpFile();
    if (!m_help->showContents(file))
        m_messages.plain(QStringLiteral("Нет файла справки ") + file);
}

void TForm1::About1Click() {
    if (m_about)
        m_about->exec();
}

void TForm1::WMPostCTS() {
    showLamp(Panel3, &ModemLines::cts);
}

void TForm1::WMPostDSR() {
    showLamp(Panel2, &ModemLines::dsr);
}

void TForm1::showLamp(QLabel* lamp, bool ModemLines::*line) {
    const auto lines = m_terminal.PortOpen() != 0 ? m_terminal.modemLines() : std::nullopt;
    paintLamp(lamp, m_terminal.lineWaiting() ? LampState::Waiting : lampState(lines, line));
}

// The port closed, lost its line or has it back: the lamps and the port window follow.
void TForm1::showLineState() {
    const bool waiting = m_terminal.lineWaiting();
    const QString waitingText = QString::fromUtf8(LINE_WAITING_TEXT);
    Panel3->setToolTip(waiting ? waitingText : QString::fromUtf8(CTS_HINT));
    Panel2->setToolTip(waiting ? waitingText : QString::fromUtf8(DSR_HINT));
    WMPostCTS();
    WMPostDSR();
    if (m_portWindow)
        m_portWindow->showPortState();
}

void TForm1::paintLamp(QLabel* lamp, LampState state) {
    paintLamp(lamp, lampColour(state, style()->standardPalette()));
}

void TForm1::paintLamp(QLabel* lamp, const QColor& colour) {
    QPalette palette = lamp->palette();
    palette.setColor(QPalette::Window, colour);
    lamp->setPalette(palette);
}

void TForm1::resetLamps() {
    paintLamp(Panel3, LampState::Idle);
    paintLamp(Panel2, LampState::Idle);
}

void TForm1::closeEvent(QCloseEvent* event) {
    m_terminal.closePort();
    QMainWindow::closeEvent(event);
}
