#include "Fakes.h"
#include "Probes.h"
#include "link/NetworkSerialDevice.h"
#include "link/PortReader.h"
#include "link/PosixSerialDevice.h"
#include "link/SerialLink.h"
#include "shared/WindowMessages.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// A device whose input is the reading end of a pipe: when the writing end closes with
// nothing pending, poll() reports POLLHUP alone (no POLLERR, no POLLIN), unlike a
// pseudo-terminal's hang-up. Writes are taken and dropped; it has no modem lines.
class PipeDevice final : public SerialDevice {
public:
    ~PipeDevice() override { close(); }
    bool open(const QString&) override {
        int ends[2];
        if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0)
            return false;
        m_readEnd = ends[0];
        m_writeEnd = ends[1];
        return true;
    }
    void close() override {
        closeWritingEnd();
        if (m_readEnd >= 0)
            ::close(std::exchange(m_readEnd, -1));
    }
    void closeWritingEnd() {
        if (m_writeEnd >= 0)
            ::close(std::exchange(m_writeEnd, -1));
    }
    int descriptor() const override { return m_readEnd; }
    ssize_t readSome(char* buffer, std::size_t size) override {
        return ::read(m_readEnd, buffer, size);
    }
    ssize_t writeSome(const char*, std::size_t size) override { return ssize_t(size); }
    void purge() override {}
    std::optional<ModemLines> modemLines() const override { return std::nullopt; }
    std::optional<LineSettings> settings() const override { return std::nullopt; }
    bool applySettings(const LineSettings&) override { return false; }

private:
    int m_readEnd = -1;
    int m_writeEnd = -1;
};

// Lets the test sleep until the reader reports the line's loss, or bytes.
class LossWatch final : public PortMessages {
public:
    void post(PortMessage message) override {
        std::lock_guard lock(m_mutex);
        m_lost = m_lost || std::holds_alternative<LineLost>(message);
        if (const auto* received = std::get_if<Received>(&message))
            m_received += received->bytes;
        m_changed.notify_all();
    }
    bool waitForLoss(std::chrono::milliseconds limit) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, limit, [this] { return m_lost; });
    }
    bool waitForReceived(const std::string& bytes, std::chrono::milliseconds limit) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] { return m_received == bytes; });
    }
    bool lost() {
        std::lock_guard lock(m_mutex);
        return m_lost;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_lost = false;
    std::string m_received;
};

// A device whose first read fails with "try again" after poll() reported input, as a
// socket's may (or a read that held only a protocol's own bytes); then it reads as `inner`.
class FirstReadFindsNothing final : public SerialDevice {
public:
    explicit FirstReadFindsNothing(SerialDevice& inner) : m_inner(inner) {}
    bool open(const QString& path) override { return m_inner.open(path); }
    bool connect(int wakeFd, const std::atomic<bool>& stopping) override {
        return m_inner.connect(wakeFd, stopping);
    }
    void close() override { m_inner.close(); }
    int descriptor() const override { return m_inner.descriptor(); }
    ssize_t readSome(char* buffer, std::size_t size) override {
        if (m_failed.exchange(true))
            return m_inner.readSome(buffer, size);
        errno = EAGAIN;
        return -1;
    }
    ssize_t writeSome(const char* bytes, std::size_t size) override {
        return m_inner.writeSome(bytes, size);
    }
    void purge() override {}
    std::optional<ModemLines> modemLines() const override { return m_inner.modemLines(); }
    std::optional<LineSettings> settings() const override { return m_inner.settings(); }
    bool applySettings(const LineSettings&) override { return false; }
    bool samplesModemLines() const override { return m_inner.samplesModemLines(); }
    bool failedOnce() const { return m_failed; }

private:
    SerialDevice& m_inner;
    std::atomic<bool> m_failed{false};
};

int loopbackListener(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd, 1);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

} // namespace

class TestLink : public QObject {
    Q_OBJECT
private slots:
    void readerEndsOnHangUpAlone();
    void readThatFindsNothingIsNoLoss_data();
    void readThatFindsNothingIsNoLoss();
    void closeDiscardsStuckOutputAtOnce();
    void programEndsAtOnceWithStuckOutput();
};

// A reader that ignored a lone POLLHUP would spin at full processor and never report the
// loss; while the line is idle it must not use the processor either.
void TestLink::readerEndsOnHangUpAlone() {
    PipeDevice device;
    LossWatch watch;
    QVERIFY(device.open(QString()));
    PortReader reader(device, watch);
    reader.start();
    // There is no event to wait for while the line is idle: the window is the measurement.
    // A spinning thread gets only part of a busy machine's processor, hence the low bound.
    constexpr auto idle = 250ms;
    constexpr auto spent = idle / 10;
    auto before = processCpuTime();
    std::this_thread::sleep_for(idle);
    QVERIFY(processCpuTime() - before < spent);

    before = processCpuTime();
    device.closeWritingEnd();
    QVERIFY(watch.waitForLoss(1s));
    std::this_thread::sleep_for(idle); // a reader that reported the loss but went on spinning
    const auto used = processCpuTime() - before;
    QVERIFY2(used < spent, qPrintable(QStringLiteral("%1 ms of processor").arg(used / 1ms)));
    reader.stop();
}

// poll() reported input and the read found none: for a terminal device and a terminal
// server's port alike, nothing is lost and no loss is reported.
void TestLink::readThatFindsNothingIsNoLoss_data() {
    QTest::addColumn<bool>("remote");
    QTest::newRow("a terminal device") << false;
    QTest::newRow("a terminal server's port") << true;
}

void TestLink::readThatFindsNothingIsNoLoss() {
    QFETCH(bool, remote);
    PseudoTerminal line;
    PosixSerialDevice local;
    NetworkSerialDevice network;
    int port = 0;
    const int listener = loopbackListener(port);
    SerialDevice& inner = remote ? static_cast<SerialDevice&>(network) : local;
    QVERIFY(
        inner.open(remote ? QStringLiteral("socket://127.0.0.1:%1").arg(port) : line.linePath()));
    FirstReadFindsNothing device(inner);
    LossWatch watch;
    PortReader reader(device, watch);
    reader.start();
    const int farEnd = remote ? ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    const QByteArray alarm = "ALARM 1\r\n";
    QVERIFY(remote ? ::send(farEnd, alarm.constData(), std::size_t(alarm.size()), 0) == alarm.size()
                   : line.send(alarm));
    QVERIFY(watch.waitForReceived(alarm.toStdString(), 5s));
    QVERIFY(device.failedOnce());
    QVERIFY(!watch.lost());
    reader.stop();
    if (farEnd >= 0)
        ::close(farEnd);
    ::close(listener);
}

// The far end never reads, so output sits in the line. Close discards it instead of
// waiting for it to drain, and returns at once.
void TestLink::closeDiscardsStuckOutputAtOnce() {
    PseudoTerminal line;
    QVERIFY(line.isOpen());
    qputenv("KORVANT_COM1", line.linePath().toLocal8Bit());
    HeldMessages<PortMessage> messages;
    SerialLink link(PosixSerialDevice::create(), messages);
    QVERIFY(link.open(QStringLiteral("Com1"), 1));
    link.WriteComm(QByteArray(1 << 20, 'X')); // far more than the line holds
    link.WriteComm("\x01");
    const int sent = line.takenInWhenFull(5000);
    QVERIFY(sent > 0);

    QElapsedTimer clock;
    clock.start();
    {
        const Watchdog watchdog(5s, "Close with output stuck in the line");
        link.close();
    }
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));
    QCOMPARE(line.readAvailable().size(), sent);
}

// The program is closed with a port open whose output is stuck: the process ends at once.
void TestLink::programEndsAtOnceWithStuckOutput() {
    PseudoTerminal line;
    QVERIFY(line.isOpen());
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("KORVANT_COM1"), line.linePath());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const Watchdog watchdog(60s, "the program with stuck output");
    program.start(QStringLiteral(STUCK_EXIT_PATH), {});
    // Its start-up (fonts, the first paint) is not what is timed here.
    QVERIFY(program.waitForStarted(30000));
    while (!program.canReadLine())
        QVERIFY(program.waitForReadyRead(30000));
    QCOMPARE(program.readLine(), QByteArray("ready\n"));
    const int sent = line.takenInWhenFull(30000);
    QVERIFY(sent > 0);

    program.write("close\n"); // the operator closes the main window
    QElapsedTimer clock;
    clock.start();
    QVERIFY(program.waitForFinished(30000));
    QVERIFY2(clock.elapsed() < EXIT_MS, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(line.readAvailable().size(), sent);
}

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
