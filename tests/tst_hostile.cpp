#include "Fakes.h"
#include "HttpProbe.h"
#include "Probes.h"
#include "web/HttpServer.h"
#include "web/PasswordThrottle.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

// A hostile client on the LAN, from addresses that hold no slot, against the program in a
// process of its own (web_process), each attack with the bounds it must keep. Memory is the
// program's peak resident set (VmHWM after "5" is written to clear_refs), so the attack's
// own buffers never count; the attacks stream their megabytes without holding them.

namespace {

constexpr long long MB = 1024 * 1024;
constexpr long long MEMORY_BOUND = 16 * MB; // peak growth of the program in one attack
constexpr int THREAD_BOUND = 40;            // the whole program's threads
constexpr int LOGIN_MS = 1000;              // a newcomer's login page, under attack
// ThreadSanitizer keeps shadow memory for every byte a thread touches: there the attacks
// run and every other bound holds, but memory is not measured. (AddressSanitizer's shadow
// and quarantine stay within the bound.)
#if defined(__SANITIZE_THREAD__)
constexpr bool MEMORY_MEASURED = false;
#else
constexpr bool MEMORY_MEASURED = true;
#endif

const QByteArray LOGIN_PAGE = "login page";
const QByteArray WRONG_PASSWORD_PAGE = "wrong password page";
// How long one address guesses passwords as fast as it can.
constexpr std::chrono::milliseconds GUESSING{4000};

// The program under attack, in a working folder of its own with the login page.
struct Target {
    QTemporaryDir dir;
    QProcess process;
    int port = 0;

    bool start() {
        if (!writeFile(dir.filePath("WEB/index.html"), LOGIN_PAGE))
            return false;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(dir.path());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(WEB_PROCESS_PATH), {});
        while (process.waitForReadyRead(30000) && !process.canReadLine()) {
        }
        const QByteArray line = process.readLine().trimmed();
        port = line.startsWith("port ") ? line.mid(5).toInt() : 0;
        return port > 0;
    }
    QString proc(const char* name) const {
        return QStringLiteral("/proc/%1/%2").arg(process.processId()).arg(QLatin1String(name));
    }
    long long peakBytes() const {
        for (const QByteArray& line : readFile(proc("status")).split('\n'))
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
        return -1;
    }
    // Closes the main window: how long the process took to end, -1 if it failed.
    qint64 close() {
        QElapsedTimer clock;
        clock.start();
        process.write("close\n");
        const bool ended = process.waitForFinished(30000) &&
                           process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        return ended ? clock.elapsed() : -1;
    }
};

bool sendAll(int socket, const QByteArray& bytes) {
    for (qsizetype sent = 0; sent < bytes.size();) {
        const ssize_t n =
            ::send(socket, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

// Sends `head`, then `piece` again and again up to `total` bytes, until the server stops
// taking them (it closed the connection, or took nothing for 5 s).
void stream(int port, const QByteArray& head, const QByteArray& piece, long long total) {
    const int socket = HttpProbe(port, "127.0.2.1").connectFrom();
    const timeval patience{5, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
    long long sent = 0;
    if (sendAll(socket, head))
        while (sent < total && sendAll(socket, piece))
            sent += piece.size();
    ::close(socket);
}

// Connections that send the start of a head and then nothing, from `addresses` addresses.
std::vector<int> slowConnections(int port, int count, int addresses) {
    std::vector<int> sockets;
    for (int n = 0; n < count; ++n) {
        const HttpProbe from(port, "127.0.3." + QByteArray::number(n % addresses + 1));
        sockets.push_back(from.connectFrom());
        ::send(sockets.back(), "GET / HTTP/1.1\r\nHost: x\r\n", 25, MSG_NOSIGNAL);
    }
    return sockets;
}

} // namespace

class TestHostile : public QObject {
    Q_OBJECT
private slots:
    void attackStaysWithinItsBounds_data();
    void attackStaysWithinItsBounds();
    void passwordGuessingIsSlowed();
};

void TestHostile::attackStaysWithinItsBounds_data() {
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("piece");
    QTest::addColumn<long long>("total"); // bytes streamed on one connection
    QTest::addColumn<int>("slow");        // slow connections held open meanwhile
    QTest::addColumn<int>("addresses");   // that they come from
    QTest::addColumn<int>("fetches");     // a known client's requests of a 64 MB page file
    const QByteArray post = "POST / HTTP/1.1\r\nHost: x\r\n"
                            "Content-Type: application/x-www-form-urlencoded\r\n";
    const QByteArray bytes(64 * 1024, 'a');
    QTest::newRow("a request line of 64 MB without its end")
        << QByteArray("GET /") << bytes << 64 * MB << 0 << 1 << 0;
    QTest::newRow("64 MB of header lines")
        << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n") << QByteArray("X-a: b\r\n").repeated(8192)
        << 64 * MB << 0 << 1 << 0;
    QTest::newRow("a chunked body of 256 MB") << post + "Transfer-Encoding: chunked\r\n\r\n"
                                              << "10000\r\n" + bytes + "\r\n"
                                              << 256 * MB << 0 << 1 << 0;
    QTest::newRow("a declared body of 1 GB") << post + "Content-Length: 1073741824\r\n\r\n"
                                             << bytes << 1024 * MB << 0 << 1 << 0;
    QTest::newRow("400 slow connections from one address")
        << QByteArray() << QByteArray() << 0LL << 400 << 1 << 0;
    // 20 addresses × 15 take all 256 places: a newcomer waits for one to free.
    QTest::newRow("300 slow connections from 20 addresses")
        << QByteArray() << QByteArray() << 0LL << 300 << 20 << 0;
    QTest::newRow("a 64 MB page fetched on 16 connections that read nothing")
        << QByteArray() << QByteArray() << 0LL << 0 << 1
        << int(HttpServer::CONNECTIONS_PER_ADDRESS);
}

void TestHostile::attackStaysWithinItsBounds() {
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, piece);
    QFETCH(long long, total);
    QFETCH(int, slow);
    QFETCH(int, addresses);
    QFETCH(int, fetches);
    Target target;
    QVERIFY(target.start());
    QVERIFY(writeFile(target.proc("clear_refs"), "5")); // the peak starts from here
    const long long before = target.peakBytes();

    if (total > 0)
        stream(target.port, head, piece, total);
    std::vector<int> held = slowConnections(target.port, slow, addresses);
    if (fetches > 0) {
        QFile big(target.dir.filePath("WEB/big.bin"));
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(64 * MB));
        big.close();
        const HttpProbe known(target.port, "127.0.4.1");
        QCOMPARE(known.get("/").body, LOGIN_PAGE); // admitted: its files are served
        for (int n = 0; n < fetches; ++n)
            held.push_back(known.send("GET", "/big.bin"));
        QTest::qWait(300); // the server has taken every request by then
    }
    const int accepted = std::min<int>(slow, addresses * int(HttpServer::CONNECTIONS_PER_ADDRESS));
    if (accepted < int(HttpServer::CONNECTION_LIMIT)) { // places are left for a newcomer
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(HttpProbe(target.port, "127.0.9.1").get("/").body, LOGIN_PAGE);
        qInfo("a newcomer's login page in %lld ms", static_cast<long long>(clock.elapsed()));
        QVERIFY(clock.elapsed() < LOGIN_MS);
    }
    const long long grown = target.peakBytes() - before;
    const int threads = entriesIn(qPrintable(target.proc("task")));
    qInfo("peak grew by %lld KiB; %d threads", grown / 1024, threads);
    QVERIFY(!MEMORY_MEASURED || grown <= MEMORY_BOUND);
    QVERIFY(threads < THREAD_BOUND);

    const qint64 exit = target.close();
    for (const int socket : held)
        ::close(socket);
    qInfo("ended %lld ms after the close", static_cast<long long>(exit));
    QVERIFY(exit >= 0 && exit < EXIT_MS);
}

// One address sends wrong passwords as fast as it can on every connection it may hold:
// after the free tries it gets one answer every 2 s, and the program still ends at once.
void TestHostile::passwordGuessingIsSlowed() {
    Target target;
    QVERIFY(writeFile(target.dir.filePath("Password"), "1234\r\n"));
    QVERIFY(writeFile(target.dir.filePath("WEB/index1.html"), WRONG_PASSWORD_PAGE));
    QVERIFY(target.start());
    const HttpProbe guesser(target.port, "127.0.5.1");
    QCOMPARE(guesser.get("/").body, LOGIN_PAGE);
    std::atomic<int> answered{0};
    QElapsedTimer clock;
    clock.start();
    std::vector<std::thread> connections;
    for (unsigned n = 0; n < HttpServer::CONNECTIONS_PER_ADDRESS; ++n)
        connections.emplace_back([&] {
            while (clock.elapsed() < GUESSING.count())
                if (guesser.post("Password=0000").body == WRONG_PASSWORD_PAGE &&
                    clock.elapsed() < GUESSING.count())
                    ++answered;
        });
    std::this_thread::sleep_for(GUESSING - std::chrono::milliseconds(clock.elapsed()));
    const qint64 exit = target.close(); // answers what still waits
    for (std::thread& connection : connections)
        connection.join();
    const int bound = PasswordThrottle::FREE_TRIES + int(GUESSING / PasswordThrottle::PAUSE) + 1;
    qInfo("%d wrong passwords answered in %lld ms (at most %d); ended %lld ms after the close",
          answered.load(), static_cast<long long>(GUESSING.count()), bound,
          static_cast<long long>(exit));
    QVERIFY(answered >= PasswordThrottle::FREE_TRIES);
    QVERIFY(answered <= bound);
    QVERIFY(exit >= 0 && exit < EXIT_MS);
}

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
