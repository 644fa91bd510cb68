#include "Fakes.h"
#include "WindowRig.h"
#include "app/Station.h"
#include "app/TForm1.h"
#include "dispatch/Console.h"
#include "dispatch/Terminal.h"
#include "link/TForm2.h"
#include "shared/Vars.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <fcntl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QColor BLUE(0, 0, 255);
const QColor RED(255, 0, 0);
const QColor YELLOW(255, 255, 0);
const QColor AQUA(0, 255, 255);

// The main window and the port window on a fake device.
struct Windows {
    Vars vars;
    RecordingMessages messages;
    FakeSerialDevice* device = new FakeSerialDevice;
    Station station{vars, messages, {std::unique_ptr<SerialDevice>(device), {}, {}, {}}};
    TForm1 form1{station, messages};
    TForm2 form2{form1.terminal(), messages, &form1};

    Windows() { form1.setWindows(&form2, nullptr, nullptr); }
    // What the exchange's end of the line has received, once `expected` bytes are there
    // (the window thread keeps running meanwhile, as it must for the dispatcher to write).
    QByteArray wire(int expected) {
        QByteArray bytes;
        [[maybe_unused]] const bool complete = QTest::qWaitFor([&] {
            char buffer[256];
            const ssize_t n = ::recv(device->exchangeEnd(), buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                bytes.append(buffer, n);
            return bytes.size() >= expected;
        });
        return bytes;
    }
};

QColor groupColour(const TForm2& form) {
    return form.GroupBox1->palette().color(QPalette::WindowText);
}

QColor lampColour(const QLabel* lamp) {
    return lamp->palette().color(QPalette::Window);
}

QColor buttonFace() {
    return QApplication::style()->standardPalette().color(QPalette::Button);
}

QStringList numberedLines(int from, int to) {
    QStringList lines;
    for (int i = from; i <= to; ++i)
        lines.append(QStringLiteral("line %1").arg(i));
    return lines;
}

// A line as the exchange sends it.
ReplyLine replyLine(const QString& text) {
    return ReplyLine(Cp1251::fromUnicode(text));
}

void handOver(Console& console, const QStringList& lines) {
    for (const QString& line : lines)
        console.appendLine(replyLine(line));
}

// A console on a fake frame clock: its frames come when the test says.
struct FramedConsole {
    FakeTimer frame{Console::FRAME_MS};
    QPlainTextEdit memo;
    Console console{memo, frame};
    // The next frame, if one is due; the console then has nothing waiting.
    void showFrame() {
        frame.elapse();
        QVERIFY(console.pendingLines() == 0);
    }
};

// The console as it would be if every line were shown and TimerStr's tick trimmed it.
struct EveryLineShown {
    QStringList lines;
    void trim() {
        if (lines.size() >= Console::TRIM_FROM)
            lines = lines.last(Console::TRIM_TO) << QString();
    }
};

} // namespace

class TestWindows : public QObject {
    Q_OBJECT
private slots:
    void portWindowOpensAndCloses_data();
    void portWindowOpensAndCloses();
    void portWindowRefusesMissingPort();
    void settingsDialogAppliesEvenWhenCancelled();
    void flowControlKept_data();
    void flowControlKept();
    void dialogButtonClosesThePortWindow_data();
    void dialogButtonClosesThePortWindow();
    void lampsFollowModemLines();
    void lostLineMakesThePortWait();
    void enterQueuesTheTypedCommand();
    void executeChecksPortThenText();
    void consoleTrimming_data();
    void consoleTrimming();
    void consoleTrimCountsPendingLines_data();
    void consoleTrimCountsPendingLines();
    void consoleKeepsEmptyLines_data();
    void consoleKeepsEmptyLines();
    void consoleShowsEachFrameInOneEdit_data();
    void consoleShowsEachFrameInOneEdit();
    void consoleTrimsAsIfEveryLineWereShown_data();
    void consoleTrimsAsIfEveryLineWereShown();
    void consoleFollowsOnlyAViewAtTheNewestLine_data();
    void consoleFollowsOnlyAViewAtTheNewestLine();
};

void TestWindows::portWindowOpensAndCloses_data() {
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("device");
    QTest::newRow("COM1") << 1 << QStringLiteral("OpenComPort = Com1")
                          << QStringLiteral("/dev/fake-com1");
    QTest::newRow("COM2") << 2 << QStringLiteral("OpenComPort = Com2")
                          << QStringLiteral("/dev/fake-com2");
}

void TestWindows::portWindowOpensAndCloses() {
    QFETCH(int, port);
    QFETCH(QString, caption);
    QFETCH(QString, device);
    qputenv("KORVANT_COM1", "/dev/fake-com1");
    qputenv("KORVANT_COM2", "/dev/fake-com2");
    Windows w;
    TForm2& form = w.form2;
    QCOMPARE(form.windowTitle(), QStringLiteral("Настройка порта"));
    QCOMPARE(form.GroupBox1->title(), QStringLiteral("OpenComPort"));
    QCOMPARE(groupColour(form), BLUE);
    QVERIFY(form.Button1->isEnabled() && form.Button2->isEnabled());
    QVERIFY(!form.Button3->isEnabled() && !form.Button4->isEnabled());

    QTest::mouseClick(port == 1 ? form.Button1 : form.Button2, Qt::LeftButton);
    QCOMPARE(w.device->openedPath, device);
    QCOMPARE(w.form1.terminal().PortOpen(), port);
    QCOMPARE(form.GroupBox1->title(), caption);
    QCOMPARE(groupColour(form), RED);
    QVERIFY(!form.Button1->isEnabled() && !form.Button2->isEnabled());
    QVERIFY(form.Button3->isEnabled() && form.Button4->isEnabled());

    QTest::mouseClick(form.Button3, Qt::LeftButton);
    QCOMPARE(w.form1.terminal().PortOpen(), 0);
    QCOMPARE(form.GroupBox1->title(), QStringLiteral("OpenComPort"));
    QCOMPARE(groupColour(form), BLUE);
    QVERIFY(form.Button1->isEnabled() && !form.Button3->isEnabled());
    QCOMPARE(lampColour(w.form1.Panel3), buttonFace());
    QCOMPARE(lampColour(w.form1.Panel2), buttonFace());
    QVERIFY(w.messages.shown.isEmpty());
}

void TestWindows::portWindowRefusesMissingPort() {
    Windows w;
    w.device->refuseOpen = true;
    QTest::mouseClick(w.form2.Button2, Qt::LeftButton);
    QCOMPARE(w.messages.shown, QStringList{QStringLiteral("plain:Can not openCom2")});
    QCOMPARE(w.form1.terminal().PortOpen(), 0);
    QCOMPARE(w.form2.GroupBox1->title(), QStringLiteral("OpenComPort"));
    QVERIFY(w.form2.Button1->isEnabled() && w.form2.Button2->isEnabled());
}

void TestWindows::settingsDialogAppliesEvenWhenCancelled() {
    Windows w;
    w.device->lineSettings.baudRate = 19200;
    w.device->lineSettings.parity = LineSettings::Parity::Even;
    const LineSettings before = w.device->lineSettings;
    w.form2.Button1Click();
    QTimer::singleShot(0, [] {
        if (QWidget* dialog = QApplication::activeModalWidget())
            static_cast<QDialog*>(dialog)->reject();
    });
    w.form2.Button4Click();
    QCOMPARE(w.device->applied, 1);
    QVERIFY(w.device->lineSettings == before);
}

void TestWindows::flowControlKept_data() {
    QTest::addColumn<int>("flags");  // XON/XOFF bits of the line before the open
    QTest::addColumn<int>("answer"); // to the settings dialog; -1: not shown
    QTest::addColumn<QString>("shown");
    const int xonXoff = IXON | IXOFF;
    QTest::newRow("XON/XOFF, the open") << xonXoff << -1 << QString();
    QTest::newRow("XON/XOFF, Cancel") << xonXoff << int(QDialog::Rejected) << "Xon / Xoff";
    QTest::newRow("XON/XOFF, OK") << xonXoff << int(QDialog::Accepted) << "Xon / Xoff";
    QTest::newRow("any byte resumes, Cancel")
        << (xonXoff | IXANY) << int(QDialog::Rejected) << "IXON + IXOFF + IXANY";
    QTest::newRow("any byte resumes, OK")
        << (xonXoff | IXANY) << int(QDialog::Accepted) << "IXON + IXOFF + IXANY";
    QTest::newRow("output side only, OK") << int(IXON) << int(QDialog::Accepted) << "IXON";
    QTest::newRow("none, OK") << 0 << int(QDialog::Accepted) << QStringLiteral("Нет");
}

// The line's XON/XOFF flow control is the system's setting: opening the port keeps it, and
// the settings dialog shows it and, left unchanged, applies it as it was.
void TestWindows::flowControlKept() {
    QFETCH(int, flags);
    QFETCH(int, answer);
    QFETCH(QString, shown);
    WindowRig rig;
    // The system's view of the line, set up before the program opens it.
    const int line = ::open(rig.exchange.linePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(line >= 0);
    termios before{};
    QVERIFY(::tcgetattr(line, &before) == 0);
    before.c_iflag = (before.c_iflag & ~(IXON | IXOFF | IXANY)) | tcflag_t(flags);
    QVERIFY(::tcsetattr(line, TCSANOW, &before) == 0);

    rig.form2->Button1Click();
    QCOMPARE(rig.form1->terminal().PortOpen(), 1);
    QString shownFlow;
    if (answer >= 0) {
        QTimer::singleShot(0, rig.form2.get(), [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            if (const auto* flow = dialog->findChild<QComboBox*>(QStringLiteral("flowControl")))
                shownFlow = flow->currentText();
            dialog->done(answer);
        });
        rig.form2->Button4Click();
    }
    termios after{};
    QVERIFY(::tcgetattr(line, &after) == 0);
    ::close(line);
    QCOMPARE(int(after.c_iflag & (IXON | IXOFF | IXANY)), flags);
    QCOMPARE(after.c_cflag, before.c_cflag); // speed and framing as they were
    QCOMPARE(shownFlow, shown);
}

void TestWindows::dialogButtonClosesThePortWindow_data() {
    QTest::addColumn<bool>("unreadable");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("OK") << false << false << int(QDialog::Accepted) << QStringList();
    QTest::newRow("Cancel") << false << false << int(QDialog::Rejected) << QStringList();
    QTest::newRow("settings cannot be read")
        << true << false << int(QDialog::Accepted)
        << QStringList{QStringLiteral("plain:Не удалось прочитать настройки порта Com1")};
    QTest::newRow("settings the port cannot take")
        << false << true << int(QDialog::Accepted)
        << QStringList{QStringLiteral(
               "plain:Параметры линии не применены: порт Com1 не может их передать")};
}

void TestWindows::dialogButtonClosesThePortWindow() {
    QFETCH(bool, unreadable);
    QFETCH(bool, refused);
    QFETCH(int, answer);
    QFETCH(QStringList, shown);
    Windows w;
    w.form2.Button1Click();
    w.device->settingsUnreadable = unreadable;
    w.device->settingsRefused = refused;
    w.form2.show();
    QTimer::singleShot(0, &w.form2, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog && dialog != &w.form2)
            dialog->done(answer);
    });
    QTest::mouseClick(w.form2.Button4, Qt::LeftButton);
    QVERIFY(!w.form2.isVisible());
    QCOMPARE(w.messages.shown, shown);
    QCOMPARE(w.device->applied, unreadable || refused ? 0 : 1);
}

void TestWindows::lampsFollowModemLines() {
    Windows w;
    w.device->setModemLines({false, true});
    QCOMPARE(lampColour(w.form1.Panel3), buttonFace());
    w.form2.Button1Click();
    QCOMPARE(lampColour(w.form1.Panel3), AQUA);
    QCOMPARE(lampColour(w.form1.Panel2), YELLOW);
    w.device->setModemLines({true, true}); // the reader samples the lines and posts the change
    QTRY_COMPARE(lampColour(w.form1.Panel3), YELLOW);
    QCOMPARE(lampColour(w.form1.Panel2), YELLOW);
    w.device->setModemLines({true, false});
    QTRY_COMPARE(lampColour(w.form1.Panel2), AQUA);
    QCOMPARE(lampColour(w.form1.Panel3), YELLOW);
    w.form2.Button3Click();
    QCOMPARE(lampColour(w.form1.Panel3), buttonFace());
    QCOMPARE(lampColour(w.form1.Panel2), buttonFace());
}

// A lost line leaves the port open and waiting: the window and the lamps say so, Dialog has
// no line to set, and Close ends the waiting.
void TestWindows::lostLineMakesThePortWait() {
    Windows w;
    w.form2.Button1Click();
    QVERIFY(w.form2.Label1->isHidden());            // a local port's window looks as it always has
    w.device->refuseOpen = true;                    // the adapter is gone, and stays gone
    ::shutdown(w.device->exchangeEnd(), SHUT_RDWR); // the cable is pulled
    QTRY_VERIFY(w.form1.terminal().lineWaiting());
    QCOMPARE(w.form1.terminal().PortOpen(), 1);
    QCOMPARE(w.form2.GroupBox1->title(), QStringLiteral("OpenComPort = Com1"));
    QCOMPARE(w.form2.Label1->text(), QString::fromUtf8(LINE_WAITING_TEXT));
    QVERIFY(!w.form2.Label1->isHidden());
    QVERIFY(!w.form2.Button1->isEnabled());
    QVERIFY(!w.form2.Button4->isEnabled());
    QCOMPARE(lampColour(w.form1.Panel3), QColor(192, 192, 192));
    QCOMPARE(w.form1.Panel2->toolTip(), QString::fromUtf8(LINE_WAITING_TEXT));
    w.form2.Button3Click();
    QVERIFY(!w.form1.terminal().lineWaiting());
    QCOMPARE(w.form2.GroupBox1->title(), QStringLiteral("OpenComPort"));
    QVERIFY(w.form2.Button1->isEnabled());
    QVERIFY(w.form2.Label1->isHidden());
    QCOMPARE(lampColour(w.form1.Panel3), buttonFace());
}

void TestWindows::enterQueuesTheTypedCommand() {
    Windows w;
    w.form1.show();
    w.form2.Button1Click();
    QLineEdit* line = w.form1.ComboBox1->lineEdit();
    QTest::keyClicks(line, QStringLiteral("RTM-RRT"));
    QTest::keyClick(line, Qt::Key_Return);
    QCOMPARE(w.wire(8), QByteArray("RTM-RRT\r"));
    QVERIFY(line->text().isEmpty());
    QCOMPARE(w.vars.LastCommand.bytes(), QByteArray("RTM-RRT"));
    QVERIFY(w.form1.Memo1->toPlainText().isEmpty()); // the command is not echoed
}

void TestWindows::executeChecksPortThenText() {
    Windows w;
    w.form1.BitBtn1Click();
    QCOMPARE(w.messages.shown, QStringList{QStringLiteral("error:Порт не открыт")});
    w.form2.Button1Click();
    w.form1.BitBtn1Click();
    QCOMPARE(w.messages.shown.last(), QStringLiteral("error:Нет команды"));
    QTest::keyClicks(w.form1.ComboBox1->lineEdit(), QString(40, QLatin1Char('A')));
    QCOMPARE(w.form1.ComboBox1->currentText(), QString(32, QLatin1Char('A')));
}

void TestWindows::consoleTrimming_data() {
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("remaining");
    QTest::addColumn<QString>("first");
    QTest::newRow("599 left alone") << 599 << 599 << QStringLiteral("line 1");
    QTest::newRow("600 becomes 500 and an empty line") << 600 << 501 << QStringLiteral("line 101");
    QTest::newRow("a burst of 20000") << 20000 << 501 << QStringLiteral("line 19501");
}

void TestWindows::consoleTrimming() {
    QFETCH(int, lines);
    QFETCH(int, remaining);
    QFETCH(QString, first);
    FramedConsole framed;
    Console& console = framed.console;
    const QPlainTextEdit& memo = framed.memo;
    for (int i = 1; i <= lines; ++i)
        console.appendLine(replyLine(QStringLiteral("line %1").arg(i)));
    console.trim();
    framed.showFrame(); // what the tick left is shown in the next frame
    QCOMPARE(memo.document()->blockCount(), remaining);
    QCOMPARE(memo.document()->firstBlock().text(), first);
    const QString last = memo.document()->lastBlock().text();
    QCOMPARE(last, lines >= 600 ? QString() : QStringLiteral("line %1").arg(lines));
}

// Lines handed over while earlier ones are already shown: at the trimming tick the ones not
// yet appended count as console lines, none is shown twice, and later lines follow the
// empty line.
void TestWindows::consoleTrimCountsPendingLines_data() {
    QTest::addColumn<QString>("firstLine");
    QTest::addColumn<int>("shown");
    QTest::addColumn<int>("pending");
    QTest::addColumn<int>("remaining");
    QTest::addColumn<QString>("firstKept");
    QTest::newRow("550 shown and 50 pending make 600")
        << "line 1" << 550 << 50 << 501 << "line 101";
    QTest::newRow("500 shown and 99 pending are left alone")
        << "line 1" << 500 << 99 << 599 << "line 1";
    QTest::newRow("the newest 500 all pending") << "line 1" << 100 << 700 << 501 << "line 301";
    QTest::newRow("an empty first line counts") << "" << 600 << 0 << 501 << "line 101";
    QTest::newRow("a Cyrillic line shown as the exchange sent it")
        << "КОМАНДА ВЫПОЛНЕНА" << 500 << 99 << 599 << "КОМАНДА ВЫПОЛНЕНА";
}

void TestWindows::consoleTrimCountsPendingLines() {
    QFETCH(QString, firstLine);
    QFETCH(int, shown);
    QFETCH(int, pending);
    QFETCH(int, remaining);
    QFETCH(QString, firstKept);
    FramedConsole framed;
    Console& console = framed.console;
    const QPlainTextEdit& memo = framed.memo;
    console.appendLine(replyLine(firstLine));
    framed.showFrame(); // alone in its frame, as a time-out's empty line comes
    handOver(console, numberedLines(2, shown));
    framed.showFrame();
    handOver(console, numberedLines(shown + 1, shown + pending));
    console.trim();
    console.appendLine(replyLine(QStringLiteral("after")));
    framed.showFrame();
    QCOMPARE(console.lineCount(), remaining + 1);
    QCOMPARE(memo.document()->blockCount(), remaining + 1);
    QCOMPARE(memo.document()->firstBlock().text(), firstKept);
    QCOMPARE(memo.document()->lastBlock().text(), QStringLiteral("after"));
    const QString beforeLast = memo.document()->lastBlock().previous().text();
    QCOMPARE(beforeLast, remaining == 501 ? QString() : QStringLiteral("line %1").arg(remaining));
}

// An empty line (a reply wait that ran out with nothing pending) is a console line like any
// other, also as the console's first line, where the document alone cannot tell it from
// an empty console. Each slice is handed over once the one before it is shown.
void TestWindows::consoleKeepsEmptyLines_data() {
    QTest::addColumn<QList<QStringList>>("slices");
    QTest::addColumn<QStringList>("lines");
    const QString e;
    const QString a = QStringLiteral("A");
    QTest::newRow("an empty first line") << QList<QStringList>{{e}} << QStringList{e};
    QTest::newRow("an empty first line, then a line")
        << QList<QStringList>{{e}, {a}} << QStringList{e, a};
    QTest::newRow("empty lines in a row, each alone")
        << QList<QStringList>{{e}, {e}, {e}, {a}} << QStringList{e, e, e, a};
    QTest::newRow("empty lines gathered in one slice")
        << QList<QStringList>{{e, e, a}} << QStringList{e, e, a};
    QTest::newRow("empty lines around a line")
        << QList<QStringList>{{e, a, e}, {e}} << QStringList{e, a, e, e};
    QTest::newRow("an empty line after a line")
        << QList<QStringList>{{a}, {e}} << QStringList{a, e};
}

void TestWindows::consoleKeepsEmptyLines() {
    QFETCH(QList<QStringList>, slices);
    QFETCH(QStringList, lines);
    FramedConsole framed;
    Console& console = framed.console;
    const QPlainTextEdit& memo = framed.memo;
    for (const QStringList& slice : slices) {
        handOver(console, slice);
        framed.showFrame();
    }
    QCOMPARE(console.lineCount(), lines.size());
    QCOMPARE(memo.document()->blockCount(), lines.size());
    QCOMPARE(memo.toPlainText(), lines.join(QLatin1Char('\n')));
}

// A frame takes every waiting line in one edit, of a flood the newest 600 alone (the older
// ones still count as received), and follows the newest line; no frame timer runs while
// nothing waits.
void TestWindows::consoleShowsEachFrameInOneEdit_data() {
    QTest::addColumn<QList<int>>("bursts");   // lines handed over before each frame
    QTest::addColumn<QList<int>>("inserted"); // lines each frame puts into the console
    QTest::newRow("10 000 between two frames") << QList<int>{10000} << QList<int>{600};
    QTest::newRow("599, then 2") << QList<int>{599, 2} << QList<int>{599, 2};
    QTest::newRow("a flood over three frames")
        << QList<int>{50000, 601, 10} << QList<int>{600, 600, 10};
    QTest::newRow("no line, no frame") << QList<int>{3, 0, 1} << QList<int>{3, 0, 1};
}

void TestWindows::consoleShowsEachFrameInOneEdit() {
    QFETCH(QList<int>, bursts);
    QFETCH(QList<int>, inserted);
    FramedConsole framed;
    QSignalSpy edits(framed.memo.document(), &QTextDocument::contentsChange);
    QVERIFY(!framed.frame.isEnabled());
    int sent = 0;
    for (qsizetype i = 0; i < bursts.size(); ++i) {
        handOver(framed.console, numberedLines(sent + 1, sent + bursts[i]));
        sent += bursts[i];
        const int shownBefore = framed.console.lineCount() - int(framed.console.pendingLines());
        edits.clear();
        QCOMPARE(framed.frame.elapse(), bursts[i] > 0);
        QCOMPARE(edits.count(), bursts[i] > 0 ? 1 : 0);
        QCOMPARE(framed.console.lineCount() - shownBefore, inserted[i]);
        QVERIFY(!framed.frame.isEnabled());
    }
    QCOMPARE(framed.console.linesReceived(), sent);
    QTextBlock block = framed.memo.document()->lastBlock();
    for (int number = sent; number > sent - inserted.last(); --number, block = block.previous())
        QCOMPARE(block.text(), QStringLiteral("line %1").arg(number));
    QVERIFY(framed.memo.textCursor().atEnd());
}

// Bursts (a number: lines handed over), frames ("f") and TimerStr's ticks ("t") in any
// order leave the console as it would be if every line had been shown.
void TestWindows::consoleTrimsAsIfEveryLineWereShown_data() {
    QTest::addColumn<QString>("script");
    QTest::newRow("a flood in one frame, then the tick") << "10000 f t f";
    QTest::newRow("the tick between frames of a flood") << "700 f 50000 f 20 f t 7 f";
    QTest::newRow("the tick with a flood waiting") << "100 f 10000 t f 3 f";
    QTest::newRow("600 only with the waiting lines") << "550 f 50 t f";
    QTest::newRow("599 over frames left alone") << "300 f 299 f t f";
    QTest::newRow("two ticks, lines between") << "5000 f t f 650 f t f";
}

void TestWindows::consoleTrimsAsIfEveryLineWereShown() {
    QFETCH(QString, script);
    FramedConsole framed;
    EveryLineShown expected;
    int sent = 0;
    for (const QString& step : script.split(QLatin1Char(' '))) {
        if (step == QLatin1String("f")) {
            framed.showFrame();
        } else if (step == QLatin1String("t")) {
            framed.console.trim();
            expected.trim();
        } else {
            const QStringList lines = numberedLines(sent + 1, sent + step.toInt());
            handOver(framed.console, lines);
            expected.lines += lines;
            sent += step.toInt();
        }
        QCOMPARE(framed.console.lineCount() >= Console::TRIM_FROM,
                 expected.lines.size() >= Console::TRIM_FROM);
    }
    const QStringList shown = framed.memo.toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(shown.last(std::min(shown.size(), qsizetype(Console::TRIM_FROM))),
             expected.lines.last(std::min(expected.lines.size(), qsizetype(Console::TRIM_FROM))));
}

// While the newest line is in view, each frame puts the caret at the end and the view
// follows; an operator who has scrolled back keeps the view, the caret and the selection.
void TestWindows::consoleFollowsOnlyAViewAtTheNewestLine_data() {
    QTest::addColumn<int>("scrolledBack"); // lines above the bottom of the scroll range
    QTest::addColumn<bool>("follows");
    QTest::newRow("at the newest line") << 0 << true;
    QTest::newRow("back at the first line") << -1 << false;
    QTest::newRow("back a few lines") << 5 << false;
}

void TestWindows::consoleFollowsOnlyAViewAtTheNewestLine() {
    QFETCH(int, scrolledBack);
    QFETCH(bool, follows);
    FramedConsole framed;
    QPlainTextEdit& memo = framed.memo;
    memo.resize(300, 200);
    memo.show();
    QVERIFY(QTest::qWaitForWindowExposed(&memo));
    handOver(framed.console, numberedLines(1, 100));
    framed.showFrame();
    QScrollBar* bar = memo.verticalScrollBar();
    bar->setValue(scrolledBack < 0 ? 0 : bar->maximum() - scrolledBack);
    QTextCursor selection = memo.cursorForPosition(QPoint(0, 0));
    selection.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    if (!follows)
        memo.setTextCursor(selection); // a selection the operator is about to copy
    const int before = bar->value();
    const QString topBefore = memo.cursorForPosition(QPoint(0, 0)).block().text();

    handOver(framed.console, numberedLines(101, 150));
    framed.showFrame();
    const QTextBlock lowest =
        memo.cursorForPosition(QPoint(0, memo.viewport()->height() - 1)).block();
    if (follows) {
        QCOMPARE(lowest.text(), QStringLiteral("line 150"));
        QVERIFY(memo.textCursor().atEnd());
    } else {
        QCOMPARE(bar->value(), before);
        QCOMPARE(memo.cursorForPosition(QPoint(0, 0)).block().text(), topBefore);
        QCOMPARE(memo.textCursor().selectedText(), selection.selectedText());
    }
}

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
