#include "TerminalRig.h"
#include "TerminalServers.h"
#include "link/ComPortClient.h"
#include "link/NetworkSerialDevice.h"
#include "shared/Cp1251.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/eventfd.h>
#include <unistd.h>

Q_DECLARE_METATYPE(NetworkSerialDevice::Address)

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

// What the client has been told, in a few words.
QString told(const ComPortClient& client) {
    QStringList parts;
    if (const auto line = client.settings())
        parts << QStringLiteral("%1 %2%3%4 flow %5")
                     .arg(line->baudRate)
                     .arg(line->dataBits)
                     .arg(QLatin1Char("NOEMS"[int(line->parity)]))
                     .arg(line->stopBits)
                     .arg(line->flow);
    if (const auto lines = client.modemLines())
        parts << QStringLiteral("cts%1 dsr%2")
                     .arg(lines->cts ? '+' : '-')
                     .arg(lines->dsr ? '+' : '-');
    if (client.suspended())
        parts << QStringLiteral("suspended");
    return parts.isEmpty() ? QStringLiteral("-") : parts.join(QLatin1Char(' '));
}

// The queries a client sends once the server agrees to COM-PORT, and its modem-state mask.
const QByteArray QUERIES = hex("fffa2c0100000000fff0 fffa2c0200fff0 fffa2c0300fff0 fffa2c0400fff0 "
                               "fffa2c0500fff0 fffa2c0b33fff0");
// The server's answers: 9600 bauds, 8 data bits, no parity, 1 stop bit, no flow control.
const QByteArray ANSWERS = hex("fffa2c6500002580fff0 fffa2c6608fff0 fffa2c6701fff0 "
                               "fffa2c6801fff0 fffa2c6901fff0");

// The simulated exchange behind a terminal server, reached by the terminal through the URL
// the server gives.
struct RemoteRig : TerminalRig {
    Ser2net server{QString::fromStdString(exchange.linePath())};
    bool openThrough(const QString& url) {
        qputenv("KORVANT_COM1", url.toUtf8());
        return server.isRunning() && open();
    }
    bool consoleHas(const QString& line) {
        return QTest::qWaitFor([&] { return console.lines.contains(line); }, 10000);
    }
};

} // namespace

class TestRemote : public QObject {
    Q_OBJECT
private slots:
    void telnetLayer_data();
    void telnetLayer();
    void settingsSentOnlyWhenChanged_data();
    void settingsSentOnlyWhenChanged();
    void addressForms_data();
    void addressForms();
    void commandGoesOutByteForByte_data();
    void commandGoesOutByteForByte();
    void refusingServerIsHeardAsItself_data();
    void refusingServerIsHeardAsItself();
    void firstConnectionRefusedClosesThePort_data();
    void firstConnectionRefusedClosesThePort();
    void unpluggedBehindServerComesBack_data();
    void unpluggedBehindServerComesBack();
    void settingsAreTheServers();
    void lampsFollowTheServer();
};

// What arrives in reads (as a socket splits it) gives the exchange's data, the client's
// answers and what the client then knows.
void TestRemote::telnetLayer_data() {
    QTest::addColumn<QByteArrayList>("reads");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("answered");
    QTest::addColumn<QString>("known");
    QTest::newRow("a doubled IAC is one \"я\"")
        << QByteArrayList{hex("41ffff42")} << hex("41ff42") << QByteArray() << "-";
    QTest::newRow("a doubled IAC split between reads")
        << QByteArrayList{hex("41ff"), hex("ff42")} << hex("41ff42") << QByteArray() << "-";
    QTest::newRow("CR alone, and CR NUL, pass as they came")
        << QByteArrayList{hex("0d410d00")} << hex("0d410d00") << QByteArray() << "-";
    QTest::newRow("a read of Telnet commands only")
        << QByteArrayList{hex("fffb01")} << QByteArray() << hex("fffe01") << "-";
    QTest::newRow("ser2net's greeting")
        << QByteArrayList{hex("fffb03 fffd03 fffb01 fffe01 fffd00 fffb00 fffd2c")} << QByteArray()
        << hex("fffe01") + QUERIES << "-";
    QTest::newRow("answers split across reads")
        << QByteArrayList{hex("fffd2c"), ANSWERS.left(6), ANSWERS.mid(6, 17), ANSWERS.mid(23)}
        << QByteArray() << QUERIES << "9600 8N1 flow 0";
    QTest::newRow("data between answers")
        << QByteArrayList{ANSWERS.left(10) + "AB" + ANSWERS.mid(10, 3), ANSWERS.mid(13) + "C"}
        << QByteArray("ABC") << QByteArray() << "9600 8N1 flow 0";
    QTest::newRow("an IAC inside an answer")
        << QByteArrayList{hex("fffa2c650000ffffffff fff0") + ANSWERS.mid(10)} << QByteArray()
        << QByteArray() << "65535 8N1 flow 0";
    QTest::newRow("XON/XOFF and RTS/CTS")
        << QByteArrayList{ANSWERS.left(37) + hex("fffa2c6902fff0"), hex("fffa2c6903fff0")}
        << QByteArray() << QByteArray() << "9600 8N1 flow 1";
    QTest::newRow("the modem lines' notice")
        << QByteArrayList{hex("fffa2c6b31fff0")} << QByteArray() << QByteArray() << "cts+ dsr+";
    QTest::newRow("ser2net's answer to the mask: no lines on")
        << QByteArrayList{hex("fffa2c6b00fff0")} << QByteArray() << QByteArray() << "cts- dsr-";
    QTest::newRow("suspended") << QByteArrayList{hex("fffa2c6cfff0")} << QByteArray()
                               << QByteArray() << "suspended";
    QTest::newRow("suspended and resumed")
        << QByteArrayList{hex("fffa2c6cfff0"), hex("fffa2c6dfff0")} << QByteArray() << QByteArray()
        << "-";
    QTest::newRow("a subnegotiation too long is read and dropped")
        << QByteArrayList{hex("fffa2c65") + QByteArray(100, '\x01') + hex("fff0") + "X"}
        << QByteArray("X") << QByteArray() << "-";
    QTest::newRow("options refused: echo, terminal type, the server's COM-PORT")
        << QByteArrayList{hex("fffd01 fffd18 fffb2c")} << QByteArray()
        << hex("fffc01 fffc18 fffe2c") << "-";
    QTest::newRow("the server agreeing starts no loop")
        << QByteArrayList{hex("fffd00 fffb00 fffd03 fffb03 fffe01 fffc01")} << QByteArray()
        << QByteArray() << "-";
}

void TestRemote::telnetLayer() {
    QFETCH(QByteArrayList, reads);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, answered);
    QFETCH(QString, known);
    ComPortClient client;
    QCOMPARE(client.greeting(), hex("fffb00 fffd00 fffb03 fffd03 fffb2c"));
    QByteArray received;
    for (const QByteArray& read : reads)
        client.receive(read, received);
    QCOMPARE(received, data);
    QCOMPARE(client.takeOutput(), answered);
    QCOMPARE(told(client), known);
    QCOMPARE(ComPortClient::encoded(hex("52ff0d")), hex("52ffff0d")); // "я" doubled, CR alone
}

// Only what the operator changed goes to the server; what RFC 2217 cannot say is refused.
void TestRemote::settingsSentOnlyWhenChanged_data() {
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<unsigned>("flow");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("unchanged (a cancelled dialog)") << 9600 << 8 << 0 << 0u << true << QByteArray();
    QTest::newRow("the speed") << 19200 << 8 << 0 << 0u << true << hex("fffa2c0100004b00fff0");
    QTest::newRow("7 bits, even parity")
        << 9600 << 7 << 2 << 0u << true << hex("fffa2c0207fff0 fffa2c0303fff0");
    QTest::newRow("XON/XOFF") << 9600 << 8 << 0 << unsigned(LineSettings::XON_XOFF) << true
                              << hex("fffa2c0502fff0");
    QTest::newRow("RTS/CTS") << 9600 << 8 << 0 << unsigned(LineSettings::RtsCts) << true
                             << hex("fffa2c0503fff0");
    QTest::newRow("XON/XOFF with IXANY")
        << 9600 << 8 << 0 << unsigned(LineSettings::XON_XOFF | LineSettings::XonAny) << false
        << QByteArray();
    QTest::newRow("XON on output only")
        << 19200 << 8 << 0 << unsigned(LineSettings::XonOutput) << false << QByteArray();
}

void TestRemote::settingsSentOnlyWhenChanged() {
    QFETCH(int, baud);
    QFETCH(int, dataBits);
    QFETCH(int, parity);
    QFETCH(unsigned, flow);
    QFETCH(bool, accepted);
    QFETCH(QByteArray, sent);
    ComPortClient client;
    client.greeting();
    QByteArray data;
    client.receive(hex("fffd2c") + ANSWERS, data);
    client.takeOutput();
    LineSettings wanted;
    wanted.baudRate = baud;
    wanted.dataBits = dataBits;
    wanted.parity = LineSettings::Parity(parity);
    wanted.flow = flow;
    QCOMPARE(client.requestSettings(wanted), accepted);
    QCOMPARE(client.takeOutput(), sent);
}

void TestRemote::addressForms_data() {
    using Address = NetworkSerialDevice::Address;
    using Protocol = NetworkSerialDevice::Protocol;
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<Address>("address");
    QTest::newRow("RFC 2217") << "rfc2217://10.0.0.5:4001" << true
                              << Address{Protocol::Rfc2217, "10.0.0.5", 4001};
    QTest::newRow("raw, a name") << "socket://ts-rack3.example:7001" << true
                                 << Address{Protocol::Raw, "ts-rack3.example", 7001};
    QTest::newRow("IPv6 in brackets")
        << "socket://[::1]:7000" << true << Address{Protocol::Raw, "::1", 7000};
    QTest::newRow("capitals; pyserial's options ignored")
        << "RFC2217://host:23?ign_set_control" << true << Address{Protocol::Rfc2217, "host", 23};
    QTest::newRow("port 0") << "rfc2217://host:0" << false << Address{};
    QTest::newRow("port 65536") << "rfc2217://host:65536" << false << Address{};
    QTest::newRow("no port") << "socket://host" << false << Address{};
    QTest::newRow("another scheme") << "telnet://host:23" << false << Address{};
    QTest::newRow("a device path") << "/dev/ttyUSB0" << false << Address{};
}

void TestRemote::addressForms() {
    QFETCH(QString, url);
    QFETCH(bool, valid);
    QFETCH(NetworkSerialDevice::Address, address);
    const auto parsed = NetworkSerialDevice::parse(url);
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        QCOMPARE(*parsed, address);
}

// Through ser2net, raw and with RFC 2217: the command with "я" reaches the exchange byte
// for byte, CR alone, and its reply comes back whole.
void TestRemote::commandGoesOutByteForByte_data() {
    QTest::addColumn<bool>("rfc2217");
    QTest::newRow("raw") << false;
    QTest::newRow("RFC 2217") << true;
}

void TestRemote::commandGoesOutByteForByte() {
    QFETCH(bool, rfc2217);
    RemoteRig rig;
    QVERIFY2(rig.server.isRunning(), qPrintable(rig.server.errorText()));
    QVERIFY(rig.openThrough(rfc2217 ? rig.server.rfc2217Url() : rig.server.rawUrl()));
    const QByteArray command = "RTM-RRT:\xFF\xFF"
                               "1";
    rig.terminal->dispatcher().QueueCommand(command);
    QVERIFY2(rig.consoleHas(QStringLiteral("<")),
             qPrintable(QByteArray::fromStdString(rig.exchange.received()).toHex() + " / " +
                        rig.console.lines.join('|')));
    QCOMPARE(QByteArray::fromStdString(rig.exchange.received()), command + '\r');
    QVERIFY(rig.console.lines.contains(Cp1251::toUnicode(command)));
    QVERIFY(rig.console.lines.contains(QStringLiteral("КОМАНДА ВЫПОЛНЕНА")));
}

// A terminal server that cannot open its device says so and closes: its words are the
// failure, not the exchange's output.
void TestRemote::refusingServerIsHeardAsItself_data() {
    QTest::addColumn<bool>("rfc2217");
    QTest::newRow("raw") << false;
    QTest::newRow("RFC 2217") << true;
}

void TestRemote::refusingServerIsHeardAsItself() {
    QFETCH(bool, rfc2217);
    QTemporaryDir dir;
    Ser2net server(dir.filePath(QStringLiteral("unplugged")));
    QVERIFY2(server.isRunning(), qPrintable(server.errorText()));
    NetworkSerialDevice device;
    QVERIFY(device.open(rfc2217 ? server.rfc2217Url() : server.rawUrl()));
    const int wake = ::eventfd(0, EFD_CLOEXEC);
    const std::atomic<bool> stopping{false};
    QVERIFY(!device.connect(wake, stopping));
    ::close(wake);
    QVERIFY2(device.failure().startsWith(QStringLiteral("Device open failure")),
             qPrintable(device.failure()));
}

void TestRemote::firstConnectionRefusedClosesThePort_data() {
    refusingServerIsHeardAsItself_data();
}

// The operator opening a port whose server cannot open its device hears the server's words
// in the box of a port that cannot be opened, and the port closes: nothing is waited for.
void TestRemote::firstConnectionRefusedClosesThePort() {
    QFETCH(bool, rfc2217);
    QTemporaryDir dir;
    Ser2net server(dir.filePath(QStringLiteral("unplugged")));
    QVERIFY2(server.isRunning(), qPrintable(server.errorText()));
    TerminalRig rig;
    qputenv("KORVANT_COM1", (rfc2217 ? server.rfc2217Url() : server.rawUrl()).toUtf8());
    QVERIFY(rig.open());
    QVERIFY(QTest::qWaitFor([&] { return rig.terminal->PortOpen() == 0; }, 10000));
    QVERIFY(!rig.terminal->lineWaiting());
    QCOMPARE(rig.messages.shown.size(), 1);
    QVERIFY2(rig.messages.shown[0].startsWith(
                 QStringLiteral("plain:Can not openCom1\nDevice open failure")),
             qPrintable(rig.messages.shown[0]));
    QVERIFY(rig.console.lines.isEmpty());
}

void TestRemote::unpluggedBehindServerComesBack_data() {
    refusingServerIsHeardAsItself_data();
}

// ser2net serves a device linked at a path; the adapter is pulled and plugged back in. The
// terminal tries again with a pause that doubles, hears the server's refusals meanwhile as
// failed tries (not as the exchange's output), and once the device is back the queue goes
// on: the command cut by the loss is never written again.
void TestRemote::unpluggedBehindServerComesBack() {
    QFETCH(bool, rfc2217);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyEXCHANGE"));
    RemoteRig rig;
    const auto plugIn = [&] {
        return QFile::link(QString::fromStdString(rig.exchange.linePath()), link);
    };
    QVERIFY(plugIn());
    Ser2net server(link);
    QVERIFY2(server.isRunning(), qPrintable(server.errorText()));
    qputenv("KORVANT_COM1", (rfc2217 ? server.rfc2217Url() : server.rawUrl()).toUtf8());
    QVERIFY(rig.open());
    rig.exchange.silenceNext();
    rig.terminal->dispatcher().QueueCommand("AAA");
    rig.terminal->dispatcher().QueueCommand("BBB");
    QVERIFY(QTest::qWaitFor([&] { return rig.exchange.received() == "AAA\r"; }, 10000));

    QVERIFY(QFile::remove(link));
    rig.exchange.hangUp();
    QVERIFY(QTest::qWaitFor([&] { return rig.terminal->lineWaiting(); }, 10000));
    QCOMPARE(rig.lineRetry.interval(), LineRetry::FIRST_PAUSE_MS);
    for (const int pause : {2000, 4000}) { // the server answers, its device is not there
        QVERIFY(rig.lineRetry.elapse());
        QVERIFY(QTest::qWaitFor([&] { return rig.lineRetry.isEnabled(); }, 10000));
        QCOMPARE(rig.lineRetry.interval(), pause);
    }
    QVERIFY(rig.terminal->lineWaiting());

    QVERIFY(rig.exchange.reconnect());
    QVERIFY(plugIn());
    QVERIFY(rig.lineRetry.elapse());
    QVERIFY(rig.consoleHas(QStringLiteral("BBB")));
    QVERIFY(!rig.terminal->lineWaiting());
    QCOMPARE(QByteArray::fromStdString(rig.exchange.received()), QByteArray("AAA\rBBB\r"));
    QVERIFY(!rig.console.lines.join(' ').contains(QStringLiteral("Device open failure")));
    QVERIFY(rig.messages.shown.isEmpty());
}

// The Dialog shows the server's settings, and a change comes back as the server's answer.
void TestRemote::settingsAreTheServers() {
    RemoteRig rig;
    QVERIFY2(rig.server.isRunning(), qPrintable(rig.server.errorText()));
    QVERIFY(rig.openThrough(rig.server.rfc2217Url()));
    QVERIFY(QTest::qWaitFor([&] { return rig.terminal->lineSettings().has_value(); }, 10000));
    LineSettings line = *rig.terminal->lineSettings();
    QCOMPARE(line, LineSettings{}); // ser2net's own: 9600 8N1, no flow control
    line.baudRate = 19200;
    QVERIFY(rig.terminal->applyLineSettings(line));
    QVERIFY(QTest::qWaitFor([&] { return rig.terminal->lineSettings()->baudRate == 19200; }));
    line.flow = LineSettings::XON_XOFF | LineSettings::XonAny;
    QVERIFY(!rig.terminal->applyLineSettings(line));
}

// pyserial's server, independent of ser2net: CTS and DSR as it tells them.
void TestRemote::lampsFollowTheServer() {
    PyserialServer server;
    QVERIFY(server.isRunning());
    TerminalRig rig;
    qputenv("KORVANT_COM1", server.url().toUtf8());
    QVERIFY(rig.open());
    const auto lines = [&] { return rig.terminal->modemLines(); };
    for (const auto& [line, on, expected] : {std::tuple{"cts", true, ModemLines{true, true}},
                                             std::tuple{"dsr", false, ModemLines{true, false}},
                                             std::tuple{"cts", false, ModemLines{false, false}}}) {
        QVERIFY(server.setLine(line, on));
        QVERIFY2(QTest::qWaitFor([&] { return lines() == expected; }, 10000), line);
    }
}

QTEST_MAIN(TestRemote)
#include "tst_remote.moc"
