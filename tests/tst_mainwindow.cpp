#include "WindowRig.h"
#include "app/HelpWindow.h"
#include "commands/ModuleSheet.h"
#include "commands/SubscriberSheet.h"
#include "dispatch/Console.h"
#include "shared/Widgets.h"

#include <QAbstractItemView>
#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTextBrowser>
#include <qpa/qwindowsysteminterface.h>

namespace {

// Types a command on the command line as the operator does and presses Enter.
void execute(TForm1& form, const QString& text) {
    form.ComboBox1->clearEditText();
    QTest::keyClicks(form.ComboBox1, text);
    QTest::keyClick(form.ComboBox1, Qt::Key_Return);
}

// Key presses that carry any character, Cyrillic ones too (keyClicks knows only ASCII keys).
void typeCharacters(QWidget* widget, const QString& text) {
    for (const QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(widget, &press);
    }
}

// The operator's ways of putting text into a line edit: typing, the two paste keys, the
// line's menu and a drop.
void insertAsOperator(QLineEdit* line, const QString& how, const QString& text) {
    QGuiApplication::clipboard()->setText(text);
    if (how == QLatin1String("Ctrl+V")) {
        QTest::keyClick(line->parentWidget(), Qt::Key_V, Qt::ControlModifier);
    } else if (how == QLatin1String("Shift+Insert")) {
        QTest::keyClick(line->parentWidget(), Qt::Key_Insert, Qt::ShiftModifier);
    } else if (how == QLatin1String("typing")) {
        typeCharacters(line->parentWidget(), text);
    } else if (how == QLatin1String("menu")) {
        QContextMenuEvent click(QContextMenuEvent::Mouse, line->rect().center(),
                                line->mapToGlobal(line->rect().center()));
        QApplication::sendEvent(line, &click);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        for (QAction* action : menu->actions())
            if (action->text().startsWith(QLatin1String("&Paste")))
                menu->setActiveAction(action);
        QTest::keyClick(menu, Qt::Key_Return);
    } else {
        QMimeData dragged;
        dragged.setText(text);
        const QPoint end(line->width() - 2, line->height() / 2);
        QDragEnterEvent enter(end, Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(line, &enter);
        QDropEvent drop(end, Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(line, &drop);
    }
}

QStringList history(const TForm1& form) {
    return Widgets::list(form.ComboBox1);
}

QStringList commands(int from, int to) {
    QStringList list;
    for (int n = from; n <= to; ++n)
        list << QStringLiteral("CMD-%1").arg(n);
    return list;
}

class FixedFontChooser final : public FontChooser {
public:
    std::optional<ConsoleFont> answer;
    std::optional<ConsoleFont> startedFrom;
    std::optional<ConsoleFont> choose(const ConsoleFont& start, QWidget*) override {
        startedFrom = start;
        return answer;
    }
};

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void layout_data();
    void layout();
    void menuAndCaption();
    void historyRules_data();
    void historyRules();
    void completionSelectsTheRest();
    void typingRules_data();
    void typingRules();
    void inputRules_data();
    void inputRules();
    void executeRefusals_data();
    void executeRefusals();
    void executeQueuesTextUnchanged();
    void recall_data();
    void recall();
    void recallOfNothingEmptiesTheLine();
    void pickingFromHistoryDoesNotExecute_data();
    void pickingFromHistoryDoesNotExecute();
    void activationFillsListsOnceAndFocusesCommandLine();
    void onlyOwnWindowsCountAsActivation_data();
    void onlyOwnWindowsCountAsActivation();
    void consoleFont();
    void helpOpensAtContentsWithoutDeadLinks();
    void aboutWindow();
};

void TestMainWindow::layout_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("design");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("hint");
    QTest::newRow("SpeedButton1") << "SpeedButton1" << QRect(16, 6, 30, 30) << ""
                                  << "Порт";
    QTest::newRow("SpeedButton2") << "SpeedButton2" << QRect(52, 6, 30, 30) << ""
                                  << "Шрифт";
    QTest::newRow("SpeedButton3") << "SpeedButton3" << QRect(88, 6, 57, 30) << "STOP"
                                  << "Стоп передача с АТС";
    QTest::newRow("SpeedButton6") << "SpeedButton6" << QRect(464, 6, 49, 30) << "MTA"
                                  << "COR-MTA";
    QTest::newRow("SpeedButton4") << "SpeedButton4" << QRect(520, 6, 49, 30) << "MTW"
                                  << "COR-MTW";
    QTest::newRow("Edit1") << "Edit1" << QRect(584, 6, 41, 28) << ""
                           << "Префикс к номеру";
    QTest::newRow("BitBtn11") << "BitBtn11" << QRect(640, 6, 49, 28) << "Web"
                              << "";
    QTest::newRow("Panel4") << "Panel4" << QRect(854, 6, 38, 28) << "WEB"
                            << "Connect";
    QTest::newRow("Panel3") << "Panel3" << QRect(896, 6, 38, 28) << "CTS"
                            << "Вывод:8 - DB 9";
    QTest::newRow("Panel2") << "Panel2" << QRect(938, 6, 38, 28) << "DSR"
                            << "Вывод:6 - DB-9";
    QTest::newRow("BitBtn7") << "BitBtn7" << QRect(0, 40, 105, 33) << "Команда"
                             << "Последняя команда, Ctrl+L";
    QTest::newRow("ComboBox1") << "ComboBox1" << QRect(104, 41, 377, 33) << ""
                               << "";
    QTest::newRow("BitBtn1") << "BitBtn1" << QRect(480, 41, 105, 32) << " Выполнить"
                             << "";
    QTest::newRow("Memo1") << "Memo1" << QRect(9, 73, 576, 424) << ""
                           << "";
    QTest::newRow("PageControl1") << "PageControl1" << QRect(584, 41, 392, 456) << ""
                                  << "";
}

void TestMainWindow::layout() {
    QFETCH(QString, name);
    QFETCH(QRect, design);
    QFETCH(QString, text);
    QFETCH(QString, hint);
    WindowRig rig;
    auto* widget = rig.form1->findChild<QWidget*>(name);
    QVERIFY(widget);
    const double scale = rig.form1->logicalDpiY() / 120.0;
    const QRect expected(qRound(design.x() * scale), qRound(design.y() * scale),
                         qRound(design.width() * scale), qRound(design.height() * scale));
    const QRect actual(widget->mapTo(rig.form1->centralWidget(), QPoint(0, 0)), widget->size());
    QCOMPARE(actual, expected);
    QCOMPARE(widget->toolTip(), hint);
    const QVariant caption = widget->property("text");
    if (!text.isEmpty())
        QCOMPARE(caption.toString(), text);
}

void TestMainWindow::menuAndCaption() {
    WindowRig rig;
    QCOMPARE(rig.form1->windowTitle(), QStringLiteral(" KORVANT V.3.0"));
    QStringList menu;
    for (const QAction* action : rig.form1->menuBar()->actions())
        menu << action->text();
    QCOMPARE(menu, (QStringList{"  Help", "About", "Web", "Журнал"}));
    QCOMPARE(rig.form1->PageControl1->count(), 3);
    QCOMPARE(rig.form1->PageControl1->tabText(0), QStringLiteral("Номера"));
    QCOMPARE(rig.form1->PageControl1->tabText(1), QStringLiteral("Модули"));
    QCOMPARE(rig.form1->PageControl1->tabText(2), QStringLiteral("Система"));
    QCOMPARE(rig.form1->PageControl1->currentIndex(), 0);
    QCOMPARE(rig.form1->ComboBox1->maxVisibleItems(), 12);
    // The design's faces are drawn with their metric twins that carry Cyrillic letters.
    const QFontInfo console(rig.form1->Memo1->font());
    QCOMPARE(console.family(), QStringLiteral("Liberation Mono"));
    QVERIFY(console.fixedPitch());
    QCOMPARE(QFontInfo(rig.form1->font()).family(), QStringLiteral("Liberation Sans"));
    QCOMPARE(QFontInfo(rig.formDel->Label1->font()).family(), QStringLiteral("Liberation Sans"));
}

void TestMainWindow::historyRules_data() {
    QTest::addColumn<QStringList>("executed");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("in order of first execution") << QStringList{"B", "A"} << QStringList{"B", "A"};
    QTest::newRow("a repeat neither adds nor moves")
        << QStringList{"A", "B", "A"} << QStringList{"A", "B"};
    QTest::newRow("sixteen are kept") << commands(1, 16) << commands(1, 16);
    QTest::newRow("the seventeenth drops the oldest") << commands(1, 17) << commands(2, 17);
    QTest::newRow("spaces only is a command") << QStringList{"   "} << QStringList{"   "};
}

void TestMainWindow::historyRules() {
    QFETCH(QStringList, executed);
    QFETCH(QStringList, expected);
    WindowRig rig;
    QVERIFY(rig.openPort());
    for (const QString& command : executed)
        execute(*rig.form1, command);
    QCOMPARE(history(*rig.form1), expected);
    QVERIFY(rig.messages.shown.isEmpty());
    QVERIFY(rig.form1->ComboBox1->currentText().isEmpty());
    rig.wire(executed.size()); // all of them went out, one by one
    QCOMPARE(rig.exchange.commandsReceived(), executed.size());
}

void TestMainWindow::completionSelectsTheRest() {
    WindowRig rig;
    QVERIFY(rig.show());
    QVERIFY(rig.openPort());
    execute(*rig.form1, QStringLiteral("SSD-RSP:2345,REST"));
    execute(*rig.form1, QStringLiteral("SSD-WSP:2345,REST,1"));
    execute(*rig.form1, QStringLiteral("RTM-RRT"));
    QLineEdit* line = rig.form1->ComboBox1->lineEdit();
    QTest::keyClicks(rig.form1->ComboBox1, QStringLiteral("ssd-w"));
    QCOMPARE(line->text(), QStringLiteral("SSD-WSP:2345,REST,1"));
    QCOMPARE(line->selectedText(), QStringLiteral("SP:2345,REST,1"));
    QTest::keyClick(rig.form1->ComboBox1, Qt::Key_X); // replaces the completed part
    QCOMPARE(line->text(), QStringLiteral("SSD-WX"));
    rig.form1->ComboBox1->clearEditText();
    QTest::keyClicks(rig.form1->ComboBox1, QStringLiteral("s"));
    QCOMPARE(line->text(), QStringLiteral("SSD-RSP:2345,REST")); // the first in list order
}

void TestMainWindow::typingRules_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("letters become capitals") << "ssd-rsp:12ab"
                                             << "SSD-RSP:12AB";
    QTest::newRow("cyrillic too") << "абв"
                                  << "АБВ";
    QTest::newRow("the 33rd character is refused")
        << QString(40, QLatin1Char('q')) << QString(32, QLatin1Char('Q'));
}

void TestMainWindow::typingRules() {
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    WindowRig rig;
    typeCharacters(rig.form1->ComboBox1, typed);
    QCOMPARE(rig.form1->ComboBox1->currentText(), shown);
}

void TestMainWindow::inputRules_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QByteArray>("recalled");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<QString>("shown");
    const QString digits40 = QStringLiteral("1234567890").repeated(4);
    for (const char* how : {"Ctrl+V", "Shift+Insert", "menu", "drop"}) {
        QTest::addRow("%s: cut to 32 characters", how)
            << how << QByteArray() << ""
            << "ssd-rsp:" + digits40 << "SSD-RSP:" + digits40.left(24);
        QTest::addRow("%s: cut to the room left", how)
            << how << QByteArray() << "rtm-" << digits40 << "RTM-" + digits40.left(28);
        QTest::addRow("%s: capitals, Cyrillic too", how) << how << QByteArray() << ""
                                                         << "rtm-rrt абв"
                                                         << "RTM-RRT АБВ";
    }
    QTest::newRow("a recalled command keeps its case") << "Ctrl+V" << QByteArray("flm-dsp:0a") << ""
                                                       << ",0b"
                                                       << "flm-dsp:0a,0B";
    const QByteArray long35 = "SSD-WSP:88888888888888882345,TCAT,1";
    QTest::newRow("a recalled 35-character command takes no paste")
        << "Ctrl+V" << long35 << ""
        << "x" << QString::fromLatin1(long35);
    QTest::newRow("a recalled 35-character command takes no typing")
        << "typing" << long35 << ""
        << "xy" << QString::fromLatin1(long35);
}

void TestMainWindow::inputRules() {
    QFETCH(QString, how);
    QFETCH(QByteArray, recalled);
    QFETCH(QString, typed);
    QFETCH(QString, pasted);
    QFETCH(QString, shown);
    WindowRig rig;
    QVERIFY(rig.show());
    QLineEdit* line = rig.form1->ComboBox1->lineEdit();
    rig.vars.LastCommand.assign(recalled);
    if (!recalled.isEmpty())
        rig.form1->BitBtn7Click();
    typeCharacters(rig.form1->ComboBox1, typed);
    insertAsOperator(line, how, pasted);
    QCOMPARE(line->text(), shown);
}

void TestMainWindow::executeRefusals_data() {
    QTest::addColumn<bool>("portOpen");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("lineAfter");
    QTest::newRow("port tested before the text") << false << ""
                                                 << "error:Порт не открыт"
                                                 << "";
    QTest::newRow("no port: the text stays") << false << "RTM-RRT"
                                             << "error:Порт не открыт"
                                             << "RTM-RRT";
    QTest::newRow("empty line") << true << ""
                                << "error:Нет команды"
                                << "";
    // The line cannot carry it: the command stays to be corrected.
    QTest::newRow("the prompt") << true << "RTM-RRT:<1"
                                << "error:В команде недопустимый символ «<»"
                                << "RTM-RRT:<1";
    QTest::newRow("a pasted control byte") << true << "RTM-RRT\tSSD"
                                           << "error:В команде недопустимый символ с кодом 0x09"
                                           << "RTM-RRT\tSSD";
}

void TestMainWindow::executeRefusals() {
    QFETCH(bool, portOpen);
    QFETCH(QString, typed);
    QFETCH(QString, message);
    QFETCH(QString, lineAfter);
    WindowRig rig;
    QVERIFY(rig.show());
    if (portOpen)
        QVERIFY(rig.openPort());
    rig.vars.LastCommand.assign("BEFORE");
    QTest::keyClicks(rig.form1->ComboBox1, typed);
    if (typed.contains(QLatin1Char('\t'))) // a tab is no keystroke for the line: it is pasted
        rig.form1->ComboBox1->setEditText(typed);
    rig.form1->BitBtn1->setFocus();
    QTest::mouseClick(rig.form1->BitBtn1, Qt::LeftButton);
    QCOMPARE(rig.messages.shown, QStringList{message});
    QCOMPARE(rig.form1->ComboBox1->currentText(), lineAfter);
    QVERIFY(history(*rig.form1).isEmpty());
    QCOMPARE(rig.vars.LastCommand.bytes(), QByteArray("BEFORE"));
    QCOMPARE(rig.form1->terminal().queue().count(), 0);
    // "Нет команды" and a refused character give the command line the focus; "Порт не открыт"
    // leaves it where it was.
    QCOMPARE(rig.form1->ComboBox1->hasFocus(), portOpen);
    QCOMPARE(rig.exchange.commandsReceived(), 0);
}

void TestMainWindow::executeQueuesTextUnchanged() {
    WindowRig rig;
    QVERIFY(rig.openPort());
    rig.vars.LastCommand.assign("flm-dsp:0a,0b"); // lower case, as a page may build it
    rig.form1->BitBtn7Click();
    QTest::keyClick(rig.form1->ComboBox1, Qt::Key_Return);
    QCOMPARE(rig.wire(), QByteArray("flm-dsp:0a,0b\r"));
    // Only the exchange's lines reach the console, never the command as sent.
    QVERIFY(QTest::qWaitFor(
        [&] { return rig.form1->Memo1->toPlainText().contains(QLatin1Char('<')); }));
    const QStringList console = rig.form1->Memo1->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(console.count(QStringLiteral("flm-dsp:0a,0b")), 1); // the simulator's echo alone
}

void TestMainWindow::recall_data() {
    QTest::addColumn<QString>("where");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Ctrl+L in the command line") << "ComboBox1" << int(Qt::ControlModifier);
    QTest::newRow("Ctrl+Shift+L in the command line")
        << "ComboBox1" << int(Qt::ControlModifier | Qt::ShiftModifier);
    QTest::newRow("Ctrl+Alt+L in the number field")
        << "ComboBox2" << int(Qt::ControlModifier | Qt::AltModifier);
    QTest::newRow("Ctrl+L in the console") << "Memo1" << int(Qt::ControlModifier);
    QTest::newRow("the recall button") << "BitBtn7" << 0;
}

void TestMainWindow::recall() {
    QFETCH(QString, where);
    QFETCH(int, modifiers);
    WindowRig rig;
    QVERIFY(rig.show());
    const QByteArray long35 = "SSD-WSP:88888888888888882345,TCAT,1"; // 35 of a longer text
    rig.form1->terminal().dispatcher().QueueCommand(long35 + "2");   // no port: only LastCommand
    QCOMPARE(rig.messages.shown, QStringList{QStringLiteral("plain:Порт не открыт")});
    QTest::keyClicks(rig.form1->ComboBox1, QStringLiteral("OLD"));
    auto* target = rig.form1->findChild<QWidget*>(where);
    QVERIFY(target);
    if (where == QLatin1String("BitBtn7"))
        QTest::mouseClick(target, Qt::LeftButton);
    else
        QTest::keyClick(target, Qt::Key_L, Qt::KeyboardModifiers(modifiers));
    QCOMPARE(rig.form1->ComboBox1->currentText(), QString::fromLatin1(long35));
    QVERIFY(rig.form1->ComboBox1->hasFocus());
    QCOMPARE(rig.form1->terminal().queue().count(), 0); // nothing executed
}

void TestMainWindow::recallOfNothingEmptiesTheLine() {
    WindowRig rig;
    QTest::keyClicks(rig.form1->ComboBox1, QStringLiteral("TYPED"));
    rig.form1->BitBtn7Click();
    QVERIFY(rig.form1->ComboBox1->currentText().isEmpty());
}

void TestMainWindow::pickingFromHistoryDoesNotExecute_data() {
    QTest::addColumn<bool>("byKeys");
    QTest::newRow("Down and Enter") << true;
    QTest::newRow("a click on a row") << false;
}

// The operator picks from the command line's drop-down list: the entry goes into the line
// and nothing is executed.
void TestMainWindow::pickingFromHistoryDoesNotExecute() {
    QFETCH(bool, byKeys);
    WindowRig rig;
    QVERIFY(rig.show());
    QVERIFY(rig.openPort());
    execute(*rig.form1, QStringLiteral("ONE"));
    execute(*rig.form1, QStringLiteral("TWO"));
    QCOMPARE(rig.wire(2), QByteArray("ONE\rTWO\r"));
    QComboBox* line = rig.form1->ComboBox1;
    QTest::keyClick(line, Qt::Key_Down, Qt::AltModifier); // opens the list
    QAbstractItemView* list = line->view();
    QTRY_VERIFY(list->isVisible());
    QString picked;
    if (byKeys) {
        QTest::keyClick(list, Qt::Key_Down);
        picked = list->currentIndex().data().toString();
        QTest::keyClick(list, Qt::Key_Return);
    } else {
        const QModelIndex first = list->model()->index(0, 0);
        picked = first.data().toString();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(first).center());
    }
    QVERIFY(!list->isVisible());
    QVERIFY(!picked.isEmpty());
    QCOMPARE(line->currentText(), picked);
    QCOMPARE(rig.vars.LastCommand.bytes(), QByteArray("TWO"));
    // An execute would have queued at once; nothing is queued, waiting or in progress.
    QCOMPARE(rig.form1->terminal().queue().count(), 0);
    QVERIFY(rig.form1->terminal().windowMessages().isEmpty());
    QCOMPARE(rig.exchange.commandsReceived(), 2);
}

void TestMainWindow::activationFillsListsOnceAndFocusesCommandLine() {
    WindowRig rig;
    QCOMPARE(rig.form1->TabSheet1->ComboBox5->count(), 36); // when the window is created
    QCOMPARE(rig.form1->TabSheet1->ComboBox3->count(), 0);  // not before the first activation
    QVERIFY(rig.show());
    QVERIFY(rig.form1->ComboBox1->hasFocus());
    for (int round = 0; round < 3; ++round) {
        rig.form1->TabSheet1->ComboBox2->setFocus();
        QTRY_VERIFY(rig.form1->TabSheet1->ComboBox2->hasFocus());
        rig.answerModal("Button1"); // the About window's OK
        rig.form1->About1Click();
        // Coming back from the About window activates the main window again (the offscreen
        // platform has no window manager to do it).
        rig.form1->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.form1.get()));
        QTRY_VERIFY(rig.form1->ComboBox1->hasFocus());
    }
    QCOMPARE(rig.form1->TabSheet1->ComboBox3->count(), 32);
    QCOMPARE(rig.form1->TabSheet1->ComboBox4->count(), 12);
    QCOMPARE(rig.form1->TabSheet2->Mod1->count(), 23);
    QCOMPARE(rig.form1->TabSheet2->Mod2->count(), 23);
    QCOMPARE(rig.form1->TabSheet1->ComboBox5->count(), 36);
    QVERIFY(rig.form1->TabSheet1->ComboBox3->currentText().isEmpty()); // lists, not texts
    QVERIFY(rig.form1->TabSheet2->Mod1->currentText().isEmpty());
    QCOMPARE(rig.form1->terminal().dispatcher().WebReplyReady(), 0);
}

void TestMainWindow::onlyOwnWindowsCountAsActivation_data() {
    QTest::addColumn<QString>("away");
    QTest::addColumn<bool>("toCommandLine");
    QTest::newRow("the About window") << "about" << true;
    QTest::newRow("a message box, gone before the focus comes back") << "box" << true;
    QTest::newRow("another program") << "program" << false;
}

// The focus comes back to the main window from one of the program's own windows, or from
// another program (Alt+Tab): only the first is the main window's activation, which puts the
// focus into the command line.
void TestMainWindow::onlyOwnWindowsCountAsActivation() {
    QFETCH(QString, away);
    QFETCH(bool, toCommandLine);
    using Events = QWindowSystemInterface;
    WindowRig rig;
    QVERIFY(rig.show());
    QWidget* number = rig.form1->TabSheet1->ComboBox2;
    number->setFocus();
    QTRY_VERIFY(number->hasFocus());
    if (away == QLatin1String("about")) {
        rig.answerModal("Button1");
        rig.form1->About1Click();
    } else if (away == QLatin1String("box")) {
        QMessageBox box(QMessageBox::NoIcon, QString(), QStringLiteral("?"), QMessageBox::Ok);
        QTimer::singleShot(0, &box, &QMessageBox::accept);
        box.exec();
    } else {
        Events::handleWindowActivated<Events::SynchronousDelivery>(nullptr);
        QVERIFY(!rig.form1->isActiveWindow());
    }
    // The window system gives the focus back (offscreen there is none to do it).
    Events::handleWindowActivated<Events::SynchronousDelivery>(rig.form1->windowHandle());
    QVERIFY(rig.form1->isActiveWindow());
    QCOMPARE(rig.form1->ComboBox1->hasFocus(), toCommandLine);
    QCOMPARE(number->hasFocus(), !toCommandLine);
}

void TestMainWindow::consoleFont() {
    WindowRig rig;
    FixedFontChooser chooser;
    rig.form1->setFontChooser(&chooser);
    const QFont lineFont = rig.form1->ComboBox1->font();
    const QFont consoleBefore = rig.form1->Memo1->font();

    rig.form1->SpeedButton2Click(); // cancelled
    QVERIFY(chooser.startedFrom);
    QCOMPARE(chooser.startedFrom->font.family(),
             QStringLiteral("Liberation Sans")); // its own, not the console's
    QCOMPARE(rig.form1->Memo1->font(), consoleBefore);

    QFont chosen(QStringLiteral("DejaVu Serif"));
    chosen.setPixelSize(22);
    chosen.setItalic(true);
    chosen.setUnderline(true);
    chooser.answer = ConsoleFont{chosen, QColor(0, 128, 0)};
    rig.form1->SpeedButton2Click();
    QCOMPARE(rig.form1->Memo1->font(), chosen);
    QCOMPARE(rig.form1->Memo1->palette().color(QPalette::Text), QColor(0, 128, 0));
    QCOMPARE(rig.form1->ComboBox1->font(), lineFont);

    chooser.answer.reset();
    rig.form1->SpeedButton2Click();
    QCOMPARE(chooser.startedFrom->font, chosen); // the confirmed choice is the next start
}

void TestMainWindow::helpOpensAtContentsWithoutDeadLinks() {
    WindowRig rig;
    rig.form1->Help1Click();
    QVERIFY(rig.messages.shown.isEmpty());
    auto* help = rig.form1->findChild<HelpWindow*>();
    QVERIFY(help && help->isVisible());
    QCOMPARE(help->browser()->source().fragment(), QStringLiteral("contents"));
    QVERIFY(help->browser()->toPlainText().contains(QStringLiteral("Содержание")));

    QFile file(HelpWindow::helpFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(file.readAll());
    const QRegularExpression link(QStringLiteral("href=\"#([^\"]+)\""));
    int links = 0;
    for (const auto& match : link.globalMatch(html)) {
        ++links;
        QVERIFY2(html.contains(QStringLiteral("id=\"%1\"").arg(match.captured(1))),
                 qPrintable(match.captured(1)));
    }
    QVERIFY(links >= 6);
    for (const QString& section :
         {QStringLiteral("Порт"), QStringLiteral("Командная строка"), QStringLiteral("Номера"),
          QStringLiteral("Модули"), QStringLiteral("Система"), QStringLiteral("Веб-доступ")})
        QVERIFY2(html.contains(section), qPrintable(section));
}

void TestMainWindow::aboutWindow() {
    WindowRig rig;
    TForm3& about = *rig.form3;
    QCOMPARE(about.windowTitle(), QStringLiteral(" О программе"));
    const double scale = about.logicalDpiY() / 120.0;
    QCOMPARE(about.size(), QSize(qRound(310 * scale), qRound(211 * scale)));
    const auto buttons = about.findChildren<QPushButton*>();
    QCOMPARE(buttons.size(), 1);
    QCOMPARE(buttons.first()->text(), QStringLiteral("OK"));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
