#include "link/ReplyAssembler.h"

#include <QTest>

namespace {

// Records where each line went and what the assembler asked for, in order.
class RecordingTarget final : public ReplyTarget {
public:
    bool inProgress = false;
    bool webHead = false;
    QList<QByteArray> events;

    bool commandInProgress() const override { return inProgress; }
    bool webCommandAtHead() const override { return webHead; }
    void captureLine(const ReplyLine& line) override { events.append("capture:" + line.bytes()); }
    void consoleLine(const ReplyLine& line) override { events.append("console:" + line.bytes()); }
    void restartReplyWait() override { events.append("wait"); }
    void restartConsoleTrim() override { events.append("trim"); }
    void replyEnded() override { events.append("end"); }

    QList<QByteArray> consoleLines() const {
        QList<QByteArray> lines;
        for (const auto& event : events)
            if (event.startsWith("console:"))
                lines.append(event.mid(8));
        return lines;
    }
};

QByteArray repeated(char c, int n) {
    return QByteArray(n, c);
}

} // namespace

class TestReplyAssembler : public QObject {
    Q_OBJECT
private slots:
    void bytesBecomeLines_data();
    void bytesBecomeLines();
    void routes_data();
    void routes();
    void silenceEndsAnEmptyLine();
};

void TestReplyAssembler::bytesBecomeLines_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<int>("replyEnds");
    QTest::addColumn<QByteArray>("pending");

    QTest::newRow("CR LF ends a line once")
        << QByteArray("ABC\r\n") << QList<QByteArray>{"ABC"} << 0 << QByteArray();
    QTest::newRow("leading spaces dropped")
        << QByteArray("   X\r") << QList<QByteArray>{"X"} << 0 << QByteArray();
    QTest::newRow("inner spaces kept")
        << QByteArray("A  B\r") << QList<QByteArray>{"A  B"} << 0 << QByteArray();
    QTest::newRow("TAB ends the line")
        << QByteArray("AB\tCD\r") << QList<QByteArray>{"AB", "CD"} << 0 << QByteArray();
    QTest::newRow("blank lines vanish")
        << QByteArray("\r\n\r\n  \r\nX\r\n\r\n") << QList<QByteArray>{"X"} << 0 << QByteArray();
    QTest::newRow("80-character cap")
        << repeated('Q', 85) + "\r" << QList<QByteArray>{repeated('Q', 80)} << 0 << QByteArray();
    QTest::newRow("a full line waits for its end")
        << repeated('Q', 81) << QList<QByteArray>{} << 0 << repeated('Q', 80);
    QTest::newRow("prompt ends line and reply")
        << QByteArray("a<b") << QList<QByteArray>{"a<"} << 1 << QByteArray("b");
    QTest::newRow("prompt on an empty line")
        << QByteArray("\r\n<") << QList<QByteArray>{"<"} << 1 << QByteArray();
    QTest::newRow("prompt dropped at the cap still ends")
        << repeated('Q', 80) + "<" << QList<QByteArray>{repeated('Q', 80)} << 1 << QByteArray();
    QTest::newRow("byte 0 dropped inside a line")
        << QByteArray("A\0B\r", 4) << QList<QByteArray>{"AB"} << 0 << QByteArray();
    QTest::newRow("code page 1251 bytes kept")
        << QByteArray("\xCA\xCE\xCC\xC0\xCD\xC4\xC0\xFF\r")
        << QList<QByteArray>{"\xCA\xCE\xCC\xC0\xCD\xC4\xC0\xFF"} << 0 << QByteArray();
    QTest::newRow("every control byte ends")
        << QByteArray("A\x01"
                      "B\x1F"
                      "C\x1B")
        << QList<QByteArray>{"A", "B", "C"} << 0 << QByteArray();
    QTest::newRow("DEL and 0xFF are text")
        << QByteArray("\x7F\xFF\r") << QList<QByteArray>{"\x7F\xFF"} << 0 << QByteArray();
    QTest::newRow("two prompts") << QByteArray("<<") << QList<QByteArray>{"<", "<"} << 2
                                 << QByteArray();
}

void TestReplyAssembler::bytesBecomeLines() {
    QFETCH(QByteArray, input);
    QFETCH(QList<QByteArray>, lines);
    QFETCH(int, replyEnds);
    QFETCH(QByteArray, pending);

    RecordingTarget target;
    ReplyAssembler assembler(target);
    // Byte by byte and in one block must give the same result.
    for (const char byte : input)
        assembler.AddChar(static_cast<std::uint8_t>(byte));
    QCOMPARE(target.consoleLines(), lines);
    QCOMPARE(target.events.count("end"), replyEnds);
    QCOMPARE(assembler.pendingLine().bytes(), pending);

    RecordingTarget blockTarget;
    ReplyAssembler blockAssembler(blockTarget);
    blockAssembler.addBytes(input);
    QCOMPARE(blockTarget.events, target.events);
}

void TestReplyAssembler::routes_data() {
    QTest::addColumn<bool>("inProgress");
    QTest::addColumn<bool>("webHead");
    QTest::addColumn<QList<QByteArray>>("events");

    QTest::newRow("web command in progress: capture only")
        << true << true << QList<QByteArray>{"capture:L1", "wait", "capture:L2<", "wait", "end"};
    QTest::newRow("console command in progress")
        << true << false
        << QList<QByteArray>{"console:L1", "trim", "wait", "console:L2<", "trim", "wait", "end"};
    QTest::newRow("no command: the reply wait is not touched")
        << false << false << QList<QByteArray>{"console:L1", "trim", "console:L2<", "trim", "end"};
    QTest::newRow("stale web head with nothing in progress goes to the console")
        << false << true << QList<QByteArray>{"console:L1", "trim", "console:L2<", "trim", "end"};
}

void TestReplyAssembler::routes() {
    QFETCH(bool, inProgress);
    QFETCH(bool, webHead);
    QFETCH(QList<QByteArray>, events);

    RecordingTarget target;
    target.inProgress = inProgress;
    target.webHead = webHead;
    ReplyAssembler assembler(target);
    assembler.addBytes("L1\r\nL2<");
    QCOMPARE(target.events, events);
}

void TestReplyAssembler::silenceEndsAnEmptyLine() {
    RecordingTarget target;
    target.inProgress = true;
    ReplyAssembler assembler(target);
    assembler.EndStr();
    assembler.addBytes("PART");
    assembler.EndStr();
    QCOMPARE(target.consoleLines(), (QList<QByteArray>{"", "PART"}));
    QVERIFY(assembler.pendingLine().isEmpty());
}

QTEST_APPLESS_MAIN(TestReplyAssembler)
#include "tst_replyassembler.moc"
