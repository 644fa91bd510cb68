#include "HttpProbe.h"
#include "Probes.h"
#include "TerminalRig.h"
#include "dispatch/CommandText.h"
#include "shared/Cp1251.h"
#include "web/PasswordThrottle.h"
#include "web/RequestGuards.h"
#include "web/WebService.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <future>
#include <limits>
#include <netinet/in.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

using List = WebAccessList::List;

const QByteArray DONE = "\xCA\xCE\xCC\xC0\xCD\xC4\xC0 \xC2\xDB\xCF\xCE\xCB\xCD\xC5\xCD\xC0";

// The pages say which page they are, so that a test sees which one was answered.
const QMap<QString, QByteArray> PAGES{{"index.html", "login page"},
                                      {"index1.html", "wrong password page"},
                                      {"MaxConnect.html", "all places taken page"},
                                      {"Command.html", "command page"},
                                      {"Command1.html", "not permitted page"},
                                      {"NoPage.html", "no such page"},
                                      {"img/logo.gif", "GIF89a\x01\x02"}};

// Another socket, with the socket option `option` set, can listen on the port.
bool canListenOn(int port, int option) {
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    ::setsockopt(socket, SOL_SOCKET, option, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    const bool listening =
        ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(socket, 1) == 0;
    ::close(socket);
    return listening;
}

// The journal that the terminal and the web service of a WebRig report to.
struct RecordedJournal {
    RecordingJournal journal;
};

// The web server with the terminal behind it: a real dispatcher on a pseudo-terminal with
// the simulated exchange at the far end. Only time is faked: the reply wait, the console's
// trim timer, the slots' expiry timer and their clock.
struct WebRig : RecordedJournal, TerminalRig {
    QTemporaryDir dir;
    FakeTimer expiry;
    FakeClock clock;
    std::unique_ptr<WebService> web;

    explicit WebRig(const HttpSettings& settings = {}) : TerminalRig(journal) {
        for (auto page = PAGES.begin(); page != PAGES.end(); ++page)
            write("WEB/" + page.key(), page.value());
        web = std::make_unique<WebService>(terminal->dispatcher(), dir.path(), settings, expiry,
                                           clock.function(), journal);
        if (!web->switchOn().isEmpty())
            qFatal("the web server does not listen");
    }
    void write(const QString& name, const QByteArray& bytes) {
        if (!writeFile(dir.filePath(name), bytes))
            qFatal("cannot write %s", qPrintable(name));
    }
    HttpProbe client(int n = 1) const {
        return HttpProbe(web->port(), "127.0.0." + QByteArray::number(n));
    }
    void permit(const EntryList& heads) { web->lists().replace(List::Permitted, heads); }
    void passwords(const EntryList& entries) { web->lists().replace(List::Passwords, entries); }
    // Admitted and logged in with the password "pw".
    HttpProbe loggedIn(int n = 1) {
        passwords({"pw"});
        const HttpProbe probe = client(n);
        if (probe.get("/").body != PAGES["index.html"] ||
            probe.post("Password=pw").body != PAGES["Command.html"])
            qFatal("client %d cannot log in", n);
        return probe;
    }
    // An open port on a slow exchange, and two logged-in users who may send RTM-RRT.
    std::pair<HttpProbe, HttpProbe> twoUsersOnSlowExchange() {
        permit({"RTM-RRT"});
        if (!open())
            qFatal("the port does not open");
        exchange.delayReplies(300ms);
        return {loggedIn(1), loggedIn(2)};
    }
    // A request that waits for the exchange runs on its own thread while this one goes on
    // being the window thread.
    std::future<HttpAnswer> later(std::function<HttpAnswer()> request) {
        return std::async(std::launch::async, std::move(request));
    }
    // A connection from client `n` that has sent `bytes` and waits.
    int opened(int n, const QByteArray& bytes) const {
        const int socket = client(n).connectFrom();
        if (socket >= 0)
            ::send(socket, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
        return socket;
    }
    HttpAnswer await(std::future<HttpAnswer>& answer, int timeoutMs = 10000) {
        if (!QTest::qWaitFor([&] { return answer.wait_for(0s) == std::future_status::ready; },
                             timeoutMs))
            return {};
        return answer.get();
    }
};

// The real window timer, counting how often its countdown begins.
class CountingTimer final : public Timer {
public:
    CountingTimer() {
        m_real.onTimeout([this] { fire(); });
    }
    void setInterval(int milliseconds) override { m_real.setInterval(milliseconds); }
    int interval() const override { return m_real.interval(); }
    void enable() override {
        if (!m_real.isEnabled())
            ++starts;
        m_real.enable();
    }
    void disable() override { m_real.disable(); }
    bool isEnabled() const override { return m_real.isEnabled(); }
    int starts = 0;

private:
    QtTimer m_real{0};
};

} // namespace

class TestWebServer : public QObject {
    Q_OBJECT
private slots:
    void firstRequestOfNewAddressGetsLogin_data();
    void firstRequestOfNewAddressGetsLogin();
    void fifthAddressFindsAllPlacesTaken();
    void knownClientFetchesFiles_data();
    void knownClientFetchesFiles();
    void missingPageFileIs500();
    void headHasNoBody();
    void login_data();
    void login();
    void emptyPasswordListLogsInAtOnce();
    void slotsExpireOnTheWindowThread();
    void slotExpiresThroughTheWindowTimer();
    void listenFailureIsReported();
    void noSecondListenerOnThePort();
    void switchingOffAndOnLeaksNothing();
    // Commands.
    void permittedCommandGetsItsOwnReply_data();
    void permittedCommandGetsItsOwnReply();
    void commandsThatAreNotSent_data();
    void commandsThatAreNotSent();
    void commandWithoutPortGetsEmptyLineAfterReplyWait();
    void onlyAPermittedHeadReachesTheLine_data();
    void onlyAPermittedHeadReachesTheLine();
    void commandWithPromptTakesNoOtherReply();
    void lostLineIsToldOnThePage();
    void everyUserGetsItsOwnReply();
    void fullQueueSaysSo();
    void waitingCommandsDoNotStarveTheServer();
    // Guards.
    void requestsOfOtherSitesAreRefused_data();
    void requestsOfOtherSitesAreRefused();
    void confirmedCommandRunsFromItsButton_data();
    void confirmedCommandRunsFromItsButton();
    void guessersCannotHoldThePlaces();
    void passwordGuessesAreCheckedOneEvery2s();
    void passwordsWaitingHoldNoThread();
    void oneUserTakesOnlyItsShareOfTheQueue();
    void browserThatGivesUpLeavesNothingBehind();
    void switchOffReleasesWaitingRequests();
    void reopenedPortReleasesWaitingRequest();
    // What a client cannot change, and what the switch closes.
    void pageBytesWhateverTheClientAsks_data();
    void pageBytesWhateverTheClientAsks();
    void switchOffClosesConnectionsOpenedBefore_data();
    void switchOffClosesConnectionsOpenedBefore();
    void queuedWebCommandsNeverReachTheExchange();
    void parkedRequestOutlivesTheIdleTime();
    void httpsFilesAreChecked_data();
    void httpsFilesAreChecked();
    void httpsSpeaksOnlyTls12And13_data();
    void httpsSpeaksOnlyTls12And13();
    void pageFolderOpensNothingOutside_data();
    void pageFolderOpensNothingOutside();
    void bodyLimitIsExact_data();
    void bodyLimitIsExact();
};

void TestWebServer::firstRequestOfNewAddressGetsLogin_data() {
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::newRow("a picture") << QByteArray("GET") << QByteArray("/favicon.ico");
    QTest::newRow("the root") << QByteArray("GET") << QByteArray("/");
    QTest::newRow("a command at once") << QByteArray("GET") << QByteArray("/?Command=RTM-RRT");
    QTest::newRow("a posted password") << QByteArray("POST") << QByteArray("/");
}

void TestWebServer::firstRequestOfNewAddressGetsLogin() {
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    WebRig rig;
    const HttpAnswer answer = rig.client(7).request(method, target, "Password=pw");
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.body, PAGES["index.html"]);
    QCOMPARE(answer.headers.value("content-type"), QByteArray(HttpServer::CONTENT_TYPE));
    QCOMPARE(answer.headers.value("content-length"), QByteArray::number(answer.body.size()));
    QCOMPARE(answer.headers.value("connection"), QByteArray("close"));
    const auto table = rig.web->webSlots().table();
    QCOMPARE(table[0].address.bytes(), QByteArray("127.0.0.7"));
    QCOMPARE(table[0].state, SlotConnected);
    QCOMPARE(rig.exchange.commandsReceived(), 0);
}

void TestWebServer::fifthAddressFindsAllPlacesTaken() {
    WebRig rig;
    for (int n = 1; n <= 4; ++n)
        QCOMPARE(rig.client(n).get("/").body, PAGES["index.html"]);
    QCOMPARE(rig.client(5).get("/").body, PAGES["MaxConnect.html"]);
    QCOMPARE(rig.client(5).get("/img/logo.gif").body, PAGES["MaxConnect.html"]);
    QCOMPARE(rig.client(3).get("/img/logo.gif").body, PAGES["img/logo.gif"]); // known while full
    QCOMPARE(rig.web->webSlots().ConnectionCount(), 4);
}

void TestWebServer::knownClientFetchesFiles_data() {
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("body");
    const QByteArray noPage = PAGES["NoPage.html"];
    QTest::newRow("a picture") << QByteArray("/img/logo.gif") << PAGES["img/logo.gif"];
    QTest::newRow("escaped name") << QByteArray("/img/%6Cogo.gif") << PAGES["img/logo.gif"];
    QTest::newRow("a page by name") << QByteArray("/Command.html") << PAGES["Command.html"];
    QTest::newRow("query ignored for files")
        << QByteArray("/img/logo.gif?x=1") << PAGES["img/logo.gif"];
    QTest::newRow("missing") << QByteArray("/nothing.gif") << noPage;
    QTest::newRow("dot dot") << QByteArray("/../secret.txt") << noPage;
    QTest::newRow("deep dot dot") << QByteArray("/img/../../secret.txt") << noPage;
    QTest::newRow("encoded dots") << QByteArray("/%2e%2e/secret.txt") << noPage;
    QTest::newRow("encoded slash") << QByteArray("/..%2fsecret.txt") << noPage;
    QTest::newRow("double encoded dots") << QByteArray("/%252e%252e/secret.txt") << noPage;
    QTest::newRow("backslashes") << QByteArray("/..\\secret.txt") << noPage;
    QTest::newRow("encoded backslash") << QByteArray("/..%5csecret.txt") << noPage;
    QTest::newRow("absolute") << QByteArray("//etc/passwd") << noPage;
    QTest::newRow("encoded NUL") << QByteArray("/Command.html%00.gif") << noPage;
    QTest::newRow("a folder") << QByteArray("/img") << noPage;
    QTest::newRow("a link that leads out") << QByteArray("/out.txt") << noPage;
    QTest::newRow("a sibling folder") << QByteArray("/../WEB2/page.html") << noPage;
    QTest::newRow("a sibling folder, escaped") << QByteArray("/%2e%2e/WEB2/page.html") << noPage;
    QTest::newRow("the name cut to 80 characters")
        << "/" + QByteArray(100, 'p') << QByteArray("cut to 80");
}

void TestWebServer::knownClientFetchesFiles() {
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, body);
    WebRig rig;
    rig.write("secret.txt", "the operator's secret");
    rig.write("WEB2/page.html", "a sibling folder's page"); // its name starts as WEB's
    rig.write("WEB/" + QString(76, 'p'), "cut to 80");      // "WEB/" and 76 characters
    QVERIFY(QFile::link(rig.dir.filePath("secret.txt"), rig.dir.filePath("WEB/out.txt")));
    const HttpProbe probe = rig.client();
    QCOMPARE(probe.get("/").body, PAGES["index.html"]);
    const HttpAnswer answer = probe.get(target);
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.body, body);
    QCOMPARE(answer.headers.value("content-type"), // whatever the file
             QByteArray("text/html; charset=windows-1251"));
}

void TestWebServer::missingPageFileIs500() {
    WebRig rig;
    const HttpProbe probe = rig.client();
    probe.get("/");
    QVERIFY(QFile::remove(rig.dir.filePath("WEB/NoPage.html")));
    const HttpAnswer answer = probe.get("/nothing.gif");
    QCOMPARE(answer.status, 500);
    QCOMPARE(answer.headers.value("content-type"), QByteArray(HttpServer::CONTENT_TYPE));
    QCOMPARE(answer.body,
             QStringLiteral("Cannot open file \"%1/WEB/NoPage.html\". No such file or directory")
                 .arg(rig.dir.path())
                 .toUtf8());
    QVERIFY(QFile::remove(rig.dir.filePath("WEB/index.html")));
    QCOMPARE(rig.client(2).get("/").status, 500);
    QCOMPARE(rig.web->webSlots().ConnectionCount(), 2); // the admission stays
}

void TestWebServer::headHasNoBody() {
    WebRig rig;
    const HttpAnswer answer = rig.client().request("HEAD", "/img/logo.gif");
    QCOMPARE(answer.status, 200);
    QVERIFY(answer.body.isEmpty());
    QCOMPARE(rig.web->webSlots().ConnectionCount(), 1);           // it reached the handler
    QVERIFY(rig.client().request("PUT", "/", "x").status != 200); // not a method it serves
}

void TestWebServer::login_data() {
    QTest::addColumn<EntryList>("passwords");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("form");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("restarted");
    const EntryList list{"first", "\xEF\xE0\xF0\xEE\xEB\xFC", ""};
    QTest::newRow("no parameters: no body, the login time-out runs on")
        << list << QByteArray("/") << QByteArray() << QByteArray() << int(SlotConnected) << false;
    QTest::newRow("a password") << list << QByteArray("/") << QByteArray("Password=first")
                                << PAGES["Command.html"] << int(SlotLoggedIn) << true;
    QTest::newRow("any field name; code page 1251")
        << list << QByteArray("/") << QByteArray("x=%EF%E0%F0%EE%EB%FC") << PAGES["Command.html"]
        << int(SlotLoggedIn) << true;
    QTest::newRow("in the query") << list << QByteArray("/?p=first") << QByteArray()
                                  << PAGES["Command.html"] << int(SlotLoggedIn) << true;
    QTest::newRow("case matters: wrong, 30 s more")
        << list << QByteArray("/") << QByteArray("Password=FIRST") << PAGES["index1.html"]
        << int(SlotConnected) << true;
    QTest::newRow("spaces are removed before the comparison")
        << list << QByteArray("/") << QByteArray("Password=fi+rst") << PAGES["Command.html"]
        << int(SlotLoggedIn) << true;
    QTest::newRow("an empty value matches the empty entry")
        << list << QByteArray("/") << QByteArray("Password=") << PAGES["Command.html"]
        << int(SlotLoggedIn) << true;
    QTest::newRow("an empty value without an empty entry")
        << EntryList{"first"} << QByteArray("/") << QByteArray("Password=") << PAGES["index1.html"]
        << int(SlotConnected) << true;
    QTest::newRow("other documents never log in")
        << list << QByteArray("/x?Password=first") << QByteArray() << PAGES["NoPage.html"]
        << int(SlotConnected) << false;
}

void TestWebServer::login() {
    QFETCH(EntryList, passwords);
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, form);
    QFETCH(QByteArray, body);
    QFETCH(int, state);
    QFETCH(bool, restarted);
    WebRig rig;
    rig.passwords(passwords);
    const HttpProbe probe = rig.client();
    QCOMPARE(probe.get("/").body, PAGES["index.html"]);
    rig.clock.advance(10s);
    const HttpAnswer answer =
        form.isEmpty() ? probe.get(target) : probe.request("POST", target, form);
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.body, body);
    QVERIFY(answer.hasHeader("content-length"));
    QCOMPARE(answer.headers.value("content-type"), QByteArray(HttpServer::CONTENT_TYPE));
    QCOMPARE(int(rig.web->webSlots().table()[0].state), state);
    const auto deadline = rig.web->webSlots().nextDeadline().value();
    const auto expected = !restarted ? rig.clock.now() - 10s + WebSlots::CONNECTED_TIMEOUT
                          : state == SlotLoggedIn ? rig.clock.now() + WebSlots::LOGGED_IN_TIMEOUT
                                                  : rig.clock.now() + WebSlots::CONNECTED_TIMEOUT;
    QVERIFY(deadline == expected);
}

// With no passwords at all the first "/" after the login page logs in, and the next value is
// already a command.
void TestWebServer::emptyPasswordListLogsInAtOnce() {
    WebRig rig;
    rig.permit({"RTM-RRT"});
    const HttpProbe probe = rig.client();
    QCOMPARE(probe.get("/").body, PAGES["index.html"]);
    const HttpAnswer first = probe.post("Password=anything");
    QCOMPARE(first.status, 200);
    QVERIFY(first.body.isEmpty());
    QCOMPARE(rig.web->webSlots().table()[0].state, SlotLoggedIn);
    QCOMPARE(probe.post("Password=anything").body, PAGES["Command1.html"]);
}

// Expiry runs on the window thread when the earliest deadline comes; a logged-in client
// that only fetches files loses its slot after 5 minutes.
void TestWebServer::slotsExpireOnTheWindowThread() {
    WebRig rig;
    const HttpProbe files = rig.loggedIn(1);
    rig.client(2).get("/"); // connected, never logs in
    QTRY_VERIFY(rig.expiry.isEnabled());
    QCOMPARE(rig.expiry.interval(), 30000); // the newcomer's login time-out comes first
    rig.clock.advance(30s);
    QVERIFY(rig.expiry.elapse());
    QCOMPARE(rig.web->webSlots().ConnectionCount(), 1);
    QTRY_COMPARE(rig.expiry.interval(), 270000); // the logged-in one's remaining time
    for (int minute = 0; minute < 4; ++minute) {
        rig.clock.advance(1min);
        QCOMPARE(files.get("/img/logo.gif").body, PAGES["img/logo.gif"]); // no restart
    }
    rig.clock.advance(30s);
    QVERIFY(rig.expiry.elapse());
    QCOMPARE(rig.web->webSlots().ConnectionCount(), 0);
    QTRY_VERIFY(!rig.expiry.isEnabled());
    QCOMPARE(files.get("/img/logo.gif").body, PAGES["index.html"]); // admitted anew
    const QList<QByteArray> journal{"web 5",           "web 1 127.0.0.1", "web 2 127.0.0.1",
                                    "web 1 127.0.0.2", "web 4 127.0.0.2", "web 4 127.0.0.1",
                                    "web 1 127.0.0.1"};
    QCOMPARE(rig.journal.reports(), journal); // on, admitted, logged in, expired
}

// The real window timer, armed for the slot's deadline rather than polling, frees the slot
// when it fires. The clock runs 50 ms short of the deadline once the client is admitted,
// so that the test waits 50 ms, not 30 s.
void TestWebServer::slotExpiresThroughTheWindowTimer() {
    TerminalRig rig;
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("WEB/index.html"), PAGES["index.html"]));
    CountingTimer timer;
    std::atomic<long long> aheadMs{0};
    WebService web(rig.terminal->dispatcher(), dir.path(), {}, timer,
                   [&] { return SlotClock::now() + std::chrono::milliseconds(aheadMs.load()); });
    QCOMPARE(web.switchOn(), QString());
    QCOMPARE(HttpProbe(web.port()).get("/").body, PAGES["index.html"]);
    aheadMs = (WebSlots::CONNECTED_TIMEOUT - 50ms).count();
    QTRY_COMPARE_WITH_TIMEOUT(web.webSlots().ConnectionCount(), 0, 2000);
    QVERIFY(!timer.isEnabled());
    // Once, or twice when it fired a moment early.
    QVERIFY2(timer.starts >= 1 && timer.starts <= 2, qPrintable(QString::number(timer.starts)));
}

void TestWebServer::listenFailureIsReported() {
    WebRig rig;
    FakeTimer expiry;
    WebService second(rig.terminal->dispatcher(), rig.dir.path(), HttpSettings{rig.web->port()},
                      expiry, SlotClock::now);
    QCOMPARE(second.switchOn(), QStringLiteral("Address already in use"));
    QVERIFY(!second.isListening());
    // A port the program may not have (below 1024 without the right) says so, too.
    if (::geteuid() != 0) {
        WebService low(rig.terminal->dispatcher(), rig.dir.path(), HttpSettings{80}, expiry,
                       SlotClock::now);
        QCOMPARE(low.switchOn(), QStringLiteral("Permission denied"));
    }
}

// Debian's server library binds with SO_REUSEPORT; two listeners would then share the
// port's connections. The server refuses to be the second one.
void TestWebServer::noSecondListenerOnThePort() {
    WebRig rig;
    QVERIFY(!canListenOn(rig.web->port(), SO_REUSEPORT));
}

void TestWebServer::switchingOffAndOnLeaksNothing() {
    WebRig rig;
    QVERIFY(!rig.client().get("/").body.isEmpty()); // a server that has served
    rig.web->switchOff();
    rig.web->server().waitStopped();
    const int threads = entriesIn("/proc/self/task");
    const int descriptors = entriesIn("/proc/self/fd");
    for (int round = 0; round < 100; ++round) {
        QCOMPARE(rig.web->switchOn(), QString());
        QCOMPARE(rig.client(round % 3 + 1).get("/").status, 200);
        rig.web->switchOff();
        QVERIFY(!rig.web->isListening());
    }
    rig.web->server().waitStopped();
    QCOMPARE(entriesIn("/proc/self/task"), threads);
    QCOMPARE(entriesIn("/proc/self/fd"), descriptors);
    QCOMPARE(rig.web->webSlots().ConnectionCount(), 0);
}

void TestWebServer::permittedCommandGetsItsOwnReply_data() {
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("form");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("posted") << QByteArray("POST") << QByteArray("/")
                            << QByteArray("Command=RTM-RRT") << QByteArray("RTM-RRT");
    QTest::newRow("in the query") << QByteArray("GET") << QByteArray("/?Command=RTM-RRT")
                                  << QByteArray() << QByteArray("RTM-RRT");
    QTest::newRow("spaces go") << QByteArray("POST") << QByteArray("/")
                               << QByteArray("Command=SSD-RSP%3A+2345+%2C+REST")
                               << QByteArray("SSD-RSP:2345,REST");
    QTest::newRow("cut at 35") << QByteArray("POST") << QByteArray("/")
                               << QByteArray("Command=SSD-WSP:") + QByteArray(40, '7')
                               << QByteArray("SSD-WSP:") + QByteArray(27, '7');
}

void TestWebServer::permittedCommandGetsItsOwnReply() {
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, form);
    QFETCH(QByteArray, sent);
    WebRig rig;
    rig.permit({"SSD-RSP", "RTM-RRT", "SSD-WSP"});
    QVERIFY(rig.open());
    const HttpProbe probe = rig.loggedIn();
    rig.vars.LastCommand.assign("CONSOLE");
    auto answer = rig.later([&] { return probe.request(method, target, form); });
    const HttpAnswer page = rig.await(answer);
    QCOMPARE(page.status, 200);
    QCOMPARE(page.body, ReplyPage::build({sent, DONE, "END 0001", "<"}));
    QCOMPARE(QByteArray::fromStdString(rig.exchange.received()), sent + "\r");
    QVERIFY(rig.console.lines.isEmpty()); // the reply went to its browser only
    QCOMPARE(rig.vars.LastCommand.bytes(), QByteArray("CONSOLE"));
}

void TestWebServer::commandsThatAreNotSent_data() {
    QTest::addColumn<EntryList>("permitted");
    QTest::addColumn<QByteArray>("form");
    QTest::addColumn<QByteArray>("body");
    const EntryList list{"RTM-RRT"};
    QTest::newRow("lower case is not permitted")
        << list << QByteArray("Command=rtm-rrt") << PAGES["Command1.html"];
    QTest::newRow("a head not in the list")
        << list << QByteArray("Command=INS-RST:0A,0A") << PAGES["Command1.html"];
    QTest::newRow("an empty value") << list << QByteArray("Command=") << PAGES["Command.html"];
    QTest::newRow("spaces only") << list << QByteArray("Command=+++") << PAGES["Command.html"];
    QTest::newRow("no parameters: no body") << list << QByteArray() << QByteArray();
    QTest::newRow("two parameters run together")
        << list << QByteArray("RTM=RRT&b=2") << PAGES["Command1.html"]; // "RRTb=2"
    QTest::newRow("an empty permitted list permits nothing")
        << EntryList{} << QByteArray("Command=RTM-RRT") << PAGES["Command1.html"];
}

void TestWebServer::commandsThatAreNotSent() {
    QFETCH(EntryList, permitted);
    QFETCH(QByteArray, form);
    QFETCH(QByteArray, body);
    WebRig rig;
    rig.permit(permitted);
    QVERIFY(rig.open());
    const HttpProbe probe = rig.loggedIn();
    rig.clock.advance(2min);
    const HttpAnswer answer = form.isEmpty() ? probe.get("/") : probe.post(form);
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.body, body);
    QCOMPARE(rig.terminal->queue().count(), 0);
    // Every request for "/" of a logged-in client gives it 5 more minutes.
    QVERIFY(rig.web->webSlots().nextDeadline().value() == rig.clock.now() + 5min);
}

// However a second command word is hidden in a request, what reaches the line begins with
// the permitted head and holds no byte that could end the line or edit it there: control
// bytes and spaces are dropped from the value, "<", DEL and 0x98 refuse the command (the
// journal shows it readably), escapes are decoded once.
void TestWebServer::onlyAPermittedHeadReachesTheLine_data() {
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("form");
    QTest::addColumn<QByteArray>("wire"); // empty: nothing is written
    QTest::addColumn<int>("refused");     // the byte that refuses it; 0: none does
    QTest::addColumn<QByteArray>("recorded");
    const QByteArray root = "/";
    const QByteArray both = "RTM-RRTSSD-RSP:2345\r";
    QTest::newRow("DEL") << root << QByteArray("Command=RTM-RRT%7F%7F%7F%7F%7F%7F%7FSSD-RSP:2345")
                         << QByteArray() << 0x7F
                         << QByteArray("RTM-RRT\\x7F\\x7F\\x7F\\x7F\\x7F\\x7F\\x7FSSD-RSP:2345");
    QTest::newRow("DEL in the query") << QByteArray("/?Command=RTM-RRT%7FSSD-RSP") << QByteArray()
                                      << QByteArray() << 0x7F << QByteArray("RTM-RRT\\x7FSSD-RSP");
    QTest::newRow("the prompt") << root << QByteArray("Command=RTM-RRT:%3C1") << QByteArray()
                                << int('<') << QByteArray("RTM-RRT:<1");
    QTest::newRow("0x98") << root << QByteArray("Command=RTM-RRT%98SSD-RSP") << QByteArray() << 0x98
                          << QByteArray("RTM-RRT\\x98SSD-RSP");
    QTest::newRow("DEL inside the head: not permitted")
        << root << QByteArray("Command=RTM-RR%7FSSD-RSP") << QByteArray() << 0
        << QByteArray("RTM-RR\x7FSSD-RSP");
    QTest::newRow("backspaces") << root
                                << QByteArray("Command=RTM-RRT%08%08%08%08%08%08%08SSD-RSP:2345")
                                << both << 0 << QByteArray();
    QTest::newRow("CR LF") << root << QByteArray("Command=RTM-RRT%0D%0ASSD-RSP:2345") << both << 0
                           << QByteArray();
    QTest::newRow("NUL") << root << QByteArray("Command=RTM-RRT%00SSD-RSP:2345") << both << 0
                         << QByteArray();
    QTest::newRow("ESC") << root << QByteArray("Command=RTM-RRT%1BSSD-RSP:2345") << both << 0
                         << QByteArray();
    QTest::newRow("a run of spaces")
        << root << QByteArray("Command=RTM-RRT") + QByteArray(40, '+') + "SSD-RSP:2345" << both << 0
        << QByteArray();
    QTest::newRow("an escaped escape is decoded once")
        << root << QByteArray("Command=RTM-RRT%253C") << QByteArray("RTM-RRT%3C\r") << 0
        << QByteArray();
    QTest::newRow("an escaped head") << root << QByteArray("Command=%52TM-RRT%3A1")
                                     << QByteArray("RTM-RRT:1\r") << 0 << QByteArray();
    QTest::newRow("two parameters run together")
        << root << QByteArray("Command=RTM-RRT:1&Command=SSD-RSP:2345")
        << QByteArray("RTM-RRT:1Command=SSD-RSP:2345\r") << 0 << QByteArray();
}

void TestWebServer::onlyAPermittedHeadReachesTheLine() {
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, form);
    QFETCH(QByteArray, wire);
    QFETCH(int, refused);
    QFETCH(QByteArray, recorded);
    WebRig rig;
    rig.permit({"RTM-RRT"});
    QVERIFY(rig.open());
    const HttpProbe probe = rig.loggedIn();
    auto answer =
        rig.later([&] { return probe.request(form.isEmpty() ? "GET" : "POST", target, form); });
    const HttpAnswer page = rig.await(answer);
    QCOMPARE(page.status, 200);
    if (!wire.isEmpty())
        QCOMPARE(page.body, ReplyPage::build({wire.chopped(1), DONE, "END 0001", "<"}));
    else if (refused != 0)
        QCOMPARE(page.body, ReplyPage::build({Cp1251::fromUnicode(
                                CommandText::refusalText(std::uint8_t(refused)).toHtmlEscaped())}));
    else
        QCOMPARE(page.body, PAGES["Command1.html"]);
    QCOMPARE(QByteArray::fromStdString(rig.exchange.received()), wire);
    QCOMPARE(rig.terminal->queue().count(), 0);
    if (!recorded.isEmpty())
        QCOMPARE(rig.journal.reports().last(),
                 "refused " + QByteArray::number(refused ? 7 : 3) + " 127.0.0.1 " + recorded);
}

// A slow exchange, and one user's command that holds the prompt: it is refused at once, and
// the other user's page holds its own reply, whole.
void TestWebServer::commandWithPromptTakesNoOtherReply() {
    WebRig rig;
    const auto [first, second] = rig.twoUsersOnSlowExchange();
    auto firstAnswer = rig.later([&] { return first.post("Command=RTM-RRT:%3C1"); });
    QVERIFY(QTest::qWaitFor([&] {
        return firstAnswer.wait_for(0s) == std::future_status::ready ||
               rig.exchange.commandsReceived() > 0;
    }));
    auto secondAnswer = rig.later([&] { return second.post("Command=RTM-RRT:2"); });
    const QByteArray firstPage = rig.await(firstAnswer).body;
    const QByteArray secondPage = rig.await(secondAnswer).body;
    QCOMPARE(firstPage, ReplyPage::build(
                            {Cp1251::fromUnicode(CommandText::refusalText('<').toHtmlEscaped())}));
    QCOMPARE(secondPage, ReplyPage::build({"RTM-RRT:2", DONE, "END 0001", "<"}));
    QCOMPARE(QByteArray::fromStdString(rig.exchange.received()), QByteArray("RTM-RRT:2\r"));
    QVERIFY(rig.journal.reports().contains("refused 7 127.0.0.1 RTM-RRT:<1"));
}

// The line is lost under a web command: its page holds what came and says that the outcome
// is unknown; the command queued behind it waits and goes out once the line is back.
void TestWebServer::lostLineIsToldOnThePage() {
    WebRig rig;
    const auto [first, second] = rig.twoUsersOnSlowExchange();
    auto firstAnswer = rig.later([&] { return first.post("Command=RTM-RRT:1"); });
    QVERIFY(QTest::qWaitFor([&] { return rig.exchange.commandsReceived() > 0; }));
    auto secondAnswer = rig.later([&] { return second.post("Command=RTM-RRT:2"); });
    QVERIFY(QTest::qWaitFor([&] { return rig.terminal->queue().count() == 2; }));
    rig.exchange.hangUp();
    QCOMPARE(rig.await(firstAnswer).body,
             ReplyPage::build({Cp1251::fromUnicode(QString::fromUtf8(LINE_LOST_TEXT))}));
    QVERIFY(rig.terminal->lineWaiting());
    QVERIFY(rig.exchange.reconnect());
    qputenv("KORVANT_COM1", QByteArray::fromStdString(rig.exchange.linePath()));
    rig.lineRetry.elapse();
    // The simulator numbers its replies; whether the reply that the loss cut off was counted
    // depends on when the line went, so either number is this command's whole reply.
    const QByteArray page = rig.await(secondAnswer).body;
    QVERIFY2(page == ReplyPage::build({"RTM-RRT:2", DONE, "END 0001", "<"}) ||
                 page == ReplyPage::build({"RTM-RRT:2", DONE, "END 0002", "<"}),
             page.constData());
    QCOMPARE(QByteArray::fromStdString(rig.exchange.received()),
             QByteArray("RTM-RRT:1\rRTM-RRT:2\r")); // nothing twice
}

// No port is open: the command is queued all the same, nothing answers, and the reply wait
// ends it with one empty line.
void TestWebServer::commandWithoutPortGetsEmptyLineAfterReplyWait() {
    WebRig rig;
    rig.permit({"RTM-RRT"});
    const HttpProbe probe = rig.loggedIn();
    auto answer = rig.later([&] { return probe.post("Command=RTM-RRT"); });
    QTRY_VERIFY(rig.terminal->dispatcher().commandInProgress());
    QVERIFY(rig.replyWait.elapse());
    rig.terminal->windowMessages().deliverPending(); // the dispatcher ends the command
    QCOMPARE(rig.terminal->dispatcher().WebReplyReady(), 1);
    QCOMPARE(rig.await(answer).body, ReplyPage::HEAD + "<br>" + ReplyPage::TAIL);
    QTRY_COMPARE(rig.terminal->dispatcher().WebReplyReady(), 0); // the request has taken it
}

// Four users at once, 25 commands each, with console commands between them: every page
// holds its own command's reply and nothing else, and no web reply reaches the console.
void TestWebServer::everyUserGetsItsOwnReply() {
    constexpr int USERS = 4;
    constexpr int EACH = 25;
    WebRig rig;
    rig.permit({"CMD-AAA"});
    QVERIFY(rig.open());
    std::vector<HttpProbe> users;
    for (int n = 1; n <= USERS; ++n)
        users.push_back(rig.loggedIn(n));
    std::atomic<int> paired{0};
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (int user = 0; user < USERS; ++user)
        threads.emplace_back([&, user] {
            for (int n = 0; n < EACH; ++n) {
                const QByteArray mine =
                    "CMD-AAA:" + QByteArray::number(user) + "," + QByteArray::number(n);
                const QByteArray page = users[user].post("c=" + mine).body;
                if (page.startsWith(ReplyPage::HEAD + mine + "<br>" + DONE + "<br>END ") &&
                    page.endsWith("<<br>" + ReplyPage::TAIL) && page.count("CMD-") == 1)
                    ++paired;
            }
            ++done;
        });
    for (int n = 0; n < 10; ++n)
        rig.terminal->dispatcher().QueueCommand("CON-SOLE");
    const bool finished = QTest::qWaitFor([&] { return done == USERS; }, 60000);
    for (auto& thread : threads)
        thread.join();
    QVERIFY(finished);
    QCOMPARE(paired.load(), USERS * EACH);
    QTRY_COMPARE(rig.console.lines.count(QStringLiteral("CON-SOLE")), 10);
    QVERIFY(!rig.console.lines.join(' ').contains(QStringLiteral("CMD-")));
}

void TestWebServer::fullQueueSaysSo() {
    WebRig rig;
    rig.permit({"RTM-RRT"});
    QVERIFY(rig.open());
    rig.exchange.silenceNext(1);
    for (int n = 0; n < CommandQueue::CAPACITY; ++n)
        QCOMPARE(rig.terminal->dispatcher().appendConsole("CON-" + QByteArray::number(n)),
                 Dispatcher::Append::Queued);
    const HttpAnswer page = rig.loggedIn().post("Command=RTM-RRT");
    QCOMPARE(
        page.body,
        ReplyPage::build({"\xCE\xF7\xE5\xF0\xE5\xE4\xFC \xEA\xEE\xEC\xE0\xED\xE4 "
                          "\xE7\xE0\xEF\xEE\xEB\xED\xE5\xED\xE0"})); // "Очередь команд заполнена"
    QCOMPARE(rig.terminal->queue().count(), CommandQueue::CAPACITY);
}

// Sixteen commands of two users wait for a silent exchange; a new user's login page and a
// known user's file still come at once.
void TestWebServer::waitingCommandsDoNotStarveTheServer() {
    WebRig rig;
    rig.permit({"RTM-RRT"});
    QVERIFY(rig.open());
    rig.exchange.silenceNext(100);
    const HttpProbe users[] = {rig.loggedIn(1), rig.loggedIn(4)};
    const HttpProbe known = rig.client(2);
    known.get("/");
    std::vector<std::future<HttpAnswer>> answers;
    for (const HttpProbe& waiting : users)
        for (int n = 0; n < RequestHandler::COMMANDS_PER_ADDRESS; ++n)
            answers.push_back(rig.later([&] { return waiting.post("Command=RTM-RRT"); }));
    QTRY_COMPARE(rig.terminal->queue().count(), 16);
    // The best of three tries: a starved server answers none of them, a busy machine may
    // slow one down.
    for (const HttpProbe& probe : {rig.client(3), known}) {
        qint64 best = std::numeric_limits<qint64>::max();
        for (int attempt = 0; attempt < 3; ++attempt) {
            qint64 took = -1;
            auto answer = rig.later([&] {
                QElapsedTimer clock;
                clock.start();
                HttpAnswer page = probe.get("/img/logo.gif");
                took = clock.elapsed();
                return page;
            });
            QCOMPARE(rig.await(answer, 5000).status, 200);
            best = std::min(best, took);
        }
        QVERIFY2(best < PROMPT_MS, qPrintable(QString::number(best)));
    }
    rig.web->switchOff(); // releases them all
    for (auto& answer : answers)
        QCOMPARE(rig.await(answer).body, PAGES["Command.html"]);
}

void TestWebServer::requestsOfOtherSitesAreRefused_data() {
    QTest::addColumn<QByteArray>("headers"); // %PORT% stands for the server's port
    QTest::addColumn<QByteArray>("method");  // of the command and the password
    QTest::addColumn<QString>("outcome");    // empty: handled as ever
    const QString site = QStringLiteral("another page"), host = QStringLiteral("name"),
                  confirm = QStringLiteral("confirm");
    const QByteArray get = "GET", post = "POST";
    QTest::newRow("none of the headers (a script)") << QByteArray() << get << QString();
    QTest::newRow("typed or bookmarked, sent by POST")
        << QByteArray("Sec-Fetch-Site: none\r\n") << post << QString();
    QTest::newRow("typed, bookmarked or a link redirected: confirmed, not run")
        << QByteArray("Sec-Fetch-Site: none\r\nSec-Fetch-User: ?1\r\n") << get << confirm;
    QTest::newRow("the terminal's own form")
        << QByteArray("Sec-Fetch-Site: same-origin\r\nOrigin: http://127.0.0.1:%PORT%\r\n") << post
        << QString();
    QTest::newRow("the terminal's own link")
        << QByteArray("Sec-Fetch-Site: same-origin\r\n") << get << QString();
    QTest::newRow("own origin, older browser")
        << QByteArray("Host: 127.0.0.1:%PORT%\r\nOrigin: http://127.0.0.1:%PORT%\r\n") << post
        << QString();
    QTest::newRow("this computer's name")
        << QByteArray("Host: LOCALHOST:%PORT%\r\nOrigin: http://localhost:%PORT%\r\n") << post
        << QString();
    QTest::newRow("a name the operator listed")
        << QByteArray("Host: Terminal.Example.:%PORT%\r\n") << get << QString();
    QTest::newRow("an old browser on the terminal's own page")
        << QByteArray(
               "Host: 127.0.0.1:%PORT%\r\nReferer: http://127.0.0.1:%PORT%/Command.html?x\r\n")
        << get << QString();
    QTest::newRow("an old browser's own form: Origin decides over Referer")
        << QByteArray("Host: 127.0.0.1:%PORT%\r\nOrigin: http://127.0.0.1:%PORT%\r\n"
                      "Referer: http://evil.example/\r\n")
        << post << QString();
    QTest::newRow("a picture of another site")
        << QByteArray("Sec-Fetch-Site: cross-site\r\n") << get << site;
    QTest::newRow("a picture of a sibling site")
        << QByteArray("Sec-Fetch-Site: same-site\r\n") << get << site;
    QTest::newRow("a form of a sibling site")
        << QByteArray("Sec-Fetch-Site: same-site\r\nOrigin: http://127.0.0.2:%PORT%\r\n") << post
        << site;
    QTest::newRow("another origin, older browser")
        << QByteArray("Origin: http://evil.example\r\n") << post << site;
    QTest::newRow("own host, another port")
        << QByteArray("Origin: http://127.0.0.1:1\r\n") << post << site;
    QTest::newRow("own host, another scheme")
        << QByteArray("Origin: https://127.0.0.1:%PORT%\r\n") << post << site;
    QTest::newRow("a page with no origin to give")
        << QByteArray("Origin: null\r\n") << post << site;
    QTest::newRow("an old browser on another site's page")
        << QByteArray("Referer: http://evil.example/page.html\r\n") << get << site;
    QTest::newRow("an old browser on a page of another port")
        << QByteArray("Referer: http://127.0.0.1:1/\r\n") << get << site;
    QTest::newRow("an old browser on a page of another scheme")
        << QByteArray("Host: 127.0.0.1:%PORT%\r\nReferer: https://127.0.0.1:%PORT%/\r\n") << get
        << site;
    QTest::newRow("a rebound name")
        << QByteArray("Host: attacker.example:%PORT%\r\nSec-Fetch-Site: same-origin\r\n"
                      "Origin: http://attacker.example:%PORT%\r\n")
        << post << host;
}

// A logged-in user sends a command and fetches a file, an admitted address sends its
// password, a new address asks for a picture, each with the row's headers. A refused
// request takes no slot, compares no password, queues nothing, restarts no timer, whatever
// it asks for; the journal has the refusal, and a command's text only when it was one. A
// navigation that the browser started itself runs no command and checks no password: the
// command is shown for confirmation, the password asked for on the login form.
void TestWebServer::requestsOfOtherSitesAreRefused() {
    QFETCH(QByteArray, headers);
    QFETCH(QByteArray, method);
    QFETCH(QString, outcome);
    qputenv(RequestGuards::HOSTS_VARIABLE, "other.example, terminal.example");
    WebRig rig;
    qunsetenv(RequestGuards::HOSTS_VARIABLE);
    rig.permit({"RTM-RRT"});
    QVERIFY(rig.open());
    headers.replace("%PORT%", QByteArray::number(rig.web->port()));
    const HttpProbe user = rig.loggedIn(1), stranger = rig.client(2), newcomer = rig.client(3);
    QCOMPARE(stranger.get("/").body, PAGES["index.html"]);
    rig.clock.advance(1s);
    const auto before = rig.web->webSlots().table();
    const auto send = [&](const HttpProbe& probe, const QByteArray& target,
                          const QByteArray& form) {
        auto answer = rig.later([&] {
            if (method == "GET" && !form.isEmpty())
                return probe.request("GET", target + "?" + form, {}, {}, headers);
            return probe.request(method, target, form, "application/x-www-form-urlencoded",
                                 headers);
        });
        return rig.await(answer);
    };
    const HttpAnswer command = send(user, "/", "Command=RTM-RRT");
    const HttpAnswer password = send(stranger, "/", "Password=pw");
    const HttpAnswer file = send(user, "/img/logo.gif", {});
    const HttpAnswer picture = send(newcomer, "/img/logo.gif", {});
    for (const HttpAnswer& answer : {command, password, file, picture})
        QCOMPARE(answer.headers.value("x-frame-options"), QByteArray("DENY"));
    const QList<QByteArray> reports = rig.journal.reports();
    for (const QByteArray& report : reports)
        QVERIFY2(!report.endsWith(" pw"), report.constData()); // never a password
    if (outcome.isEmpty()) {
        QCOMPARE(command.body, ReplyPage::build({"RTM-RRT", DONE, "END 0001", "<"}));
        QCOMPARE(password.body, PAGES["Command.html"]);
        QCOMPARE(file.body, PAGES["img/logo.gif"]);
        QCOMPARE(picture.body, PAGES["index.html"]);
        return;
    }
    if (outcome == QLatin1String("confirm")) {
        QCOMPARE(command.status, 200);
        QVERIFY2(
            command.body.contains(Cp1251::fromUnicode(QStringLiteral("ещё не передана"))) &&
                command.body.contains("<input type=\"hidden\" name=\"Command\" value=\"RTM-RRT\">"),
            command.body.constData());
        QVERIFY2(password.body.contains(Cp1251::fromUnicode(QStringLiteral("не проверяется"))) &&
                     password.body.contains("name=\"Password\""),
                 password.body.constData());
        QCOMPARE(rig.web->webSlots().table()[1].state, SlotConnected);
        QCOMPARE(rig.web->webSlots().table()[1].deadline, before[1].deadline);
        QCOMPARE(file.body, PAGES["img/logo.gif"]);
        QCOMPARE(picture.body, PAGES["index.html"]);
        QCOMPARE(rig.exchange.commandsReceived(), 0);
        QCOMPARE(rig.terminal->queue().count(), 0);
        QVERIFY(!reports.contains("web 3 127.0.0.2")); // no wrong password
        return;
    }
    const bool name = outcome == QLatin1String("name");
    const QByteArray reason =
        name ? Cp1251::fromUnicode(QStringLiteral("переменная ")) + RequestGuards::HOSTS_VARIABLE
             : Cp1251::fromUnicode(QStringLiteral("с другой страницы"));
    for (const HttpAnswer& answer : {command, password, file, picture})
        QVERIFY2(answer.status == 403 && answer.body.contains(reason), answer.body.constData());
    if (!name) { // a way on to the user's own page
        QVERIFY(command.body.contains("href=\"/Command.html\""));
        QVERIFY(password.body.contains("href=\"/index.html\""));
    }
    QCOMPARE(rig.exchange.commandsReceived(), 0);
    QCOMPARE(rig.terminal->queue().count(), 0);
    QCOMPARE(rig.web->webSlots().ConnectionCount(), 2);
    for (int slot : {0, 1})
        QCOMPARE(rig.web->webSlots().table()[slot].deadline, before[slot].deadline);
    QCOMPARE(rig.web->webSlots().table()[1].state, SlotConnected);
    const QByteArray why = QByteArray::number(int(name ? Refusal::Host : Refusal::CrossSite));
    const QByteArray hostText =
        name ? " attacker.example:" + QByteArray::number(rig.web->port()) : QByteArray();
    for (const char* address : {" 127.0.0.2", " 127.0.0.3"})
        QVERIFY(reports.contains("refused " + why + address + hostText));
    if (!name)
        QVERIFY(reports.contains("refused " + why + " 127.0.0.1 RTM-RRT"));
}

// After three wrong passwords an address gets one check every 2 s, however many requests
// it sends at once; each waits for its turn, and a right one among them lets the user in
// when its turn comes.
void TestWebServer::passwordGuessesAreCheckedOneEvery2s() {
    WebRig rig;
    rig.passwords({"pw"});
    const HttpProbe guesser = rig.client(1);
    QCOMPARE(guesser.get("/").body, PAGES["index.html"]);
    for (int n = 0; n < PasswordThrottle::FREE_TRIES; ++n)
        QCOMPARE(guesser.post("Password=no").body, PAGES["index1.html"]);
    std::vector<int> waiting;
    for (const char* form : {"Password=no1", "Password=no2", "Password=no3", "Password=pw"}) {
        waiting.push_back(guesser.send("POST", "/", form));
        QTRY_COMPARE(rig.web->passwordsWaiting(), waiting.size());
    }
    for (std::size_t turn = 1; turn <= waiting.size(); ++turn) {
        QTRY_COMPARE(rig.expiry.interval(), 2000); // the web timer waits for the next turn
        QVERIFY(rig.expiry.isEnabled());
        rig.clock.advance(1999ms);
        QVERIFY(rig.expiry.elapse()); // fired a moment early: nothing is checked yet
        QCOMPARE(rig.web->passwordsWaiting(), waiting.size() - turn + 1);
        rig.clock.advance(1ms);
        QVERIFY(rig.expiry.elapse());
        QCOMPARE(rig.web->passwordsWaiting(), waiting.size() - turn);
    }
    for (std::size_t n = 0; n < waiting.size(); ++n)
        QCOMPARE(HttpProbe::receive(waiting[n]).body,
                 PAGES[n + 1 < waiting.size() ? "index1.html" : "Command.html"]);
    QCOMPARE(rig.web->webSlots().table()[0].state, SlotLoggedIn);
    QCOMPARE(rig.journal.reports().count("web 3 127.0.0.1"), 6); // every wrong one, no text
    QVERIFY(rig.journal.reports().endsWith("web 2 127.0.0.1"));
    // Another address was never slowed.
    QCOMPARE(rig.client(2).get("/").body, PAGES["index.html"]);
    QCOMPARE(rig.client(2).post("Password=pw").body, PAGES["Command.html"]);
}

// Passwords waiting for their turn hold no thread; the server's limit on one address's
// connections bounds them, while other addresses are served at once; the switch-off
// answers them all with the login page, unchecked.
void TestWebServer::passwordsWaitingHoldNoThread() {
    WebRig rig;
    rig.passwords({"pw"});
    const HttpProbe guesser = rig.client(1);
    guesser.get("/");
    for (int n = 0; n < PasswordThrottle::FREE_TRIES; ++n)
        guesser.post("Password=no");
    const int threads = entriesIn("/proc/self/task");
    std::vector<int> waiting;
    for (unsigned n = 0; n < HttpServer::CONNECTIONS_PER_ADDRESS; ++n) {
        waiting.push_back(guesser.send("POST", "/", "Password=pw"));
        QTRY_COMPARE(rig.web->passwordsWaiting(), waiting.size());
    }
    QCOMPARE(guesser.post("Password=pw").status, 0); // one connection too many: refused
    QCOMPARE(rig.web->passwordsWaiting(), waiting.size());
    QCOMPARE(entriesIn("/proc/self/task"), threads);
    QCOMPARE(rig.client(2).get("/").body, PAGES["index.html"]);
    rig.web->switchOff();
    QCOMPARE(rig.web->passwordsWaiting(), std::size_t(0));
    for (const int socket : waiting)
        QCOMPARE(HttpProbe::receive(socket).body, PAGES["index.html"]);
    QCOMPARE(rig.web->webSlots().ConnectionCount(), 0);
}

// One user's commands take at most their share of the queue: the next one is refused at
// once, while the console and another user still queue theirs, and the share is free again
// as each command ends, however it ends.
void TestWebServer::oneUserTakesOnlyItsShareOfTheQueue() {
    WebRig rig;
    rig.permit({"RTM-RRT"});
    QVERIFY(rig.open());
    rig.exchange.silenceNext(100);
    const HttpProbe user = rig.loggedIn(1), other = rig.loggedIn(2);
    std::vector<std::future<HttpAnswer>> answers;
    for (int n = 0; n < RequestHandler::COMMANDS_PER_ADDRESS; ++n)
        answers.push_back(rig.later([&] { return user.post("Command=RTM-RRT"); }));
    QTRY_COMPARE(rig.terminal->queue().count(), RequestHandler::COMMANDS_PER_ADDRESS);
    const QByteArray queueFull =
        ReplyPage::build({"\xCE\xF7\xE5\xF0\xE5\xE4\xFC \xEA\xEE\xEC\xE0\xED\xE4 "
                          "\xE7\xE0\xEF\xEE\xEB\xED\xE5\xED\xE0"});
    QCOMPARE(user.post("Command=RTM-RRT").body, queueFull);
    QCOMPARE(rig.terminal->queue().count(), RequestHandler::COMMANDS_PER_ADDRESS);
    answers.push_back(rig.later([&] { return other.post("Command=RTM-RRT"); }));
    QCOMPARE(rig.terminal->dispatcher().appendConsole("CON-SOLE"), Dispatcher::Append::Queued);
    QTRY_COMPARE(rig.terminal->queue().count(), RequestHandler::COMMANDS_PER_ADDRESS + 2);
    // The command in progress ends by silence: its place is the user's again.
    QTRY_COMPARE(rig.replyWait.starts, 1);
    QVERIFY(rig.replyWait.elapse());
    rig.terminal->windowMessages().deliverPending();
    const auto ready = [&] {
        return std::ranges::count_if(
            answers, [](auto& answer) { return answer.wait_for(0s) == std::future_status::ready; });
    };
    QTRY_COMPARE(ready(), 1); // one of the user's, whichever went first
    answers.push_back(rig.later([&] { return user.post("Command=RTM-RRT"); }));
    QTRY_COMPARE(rig.terminal->queue().count(), RequestHandler::COMMANDS_PER_ADDRESS + 2);
    QCOMPARE(ready(), 1);
    rig.web->switchOff();
    for (auto& answer : answers)
        QCOMPARE(rig.await(answer).status, 200);
}

// The browser closes its connection while its command waits: the command still runs, its
// reply goes nowhere, and nothing of the request is left once the reply has come.
void TestWebServer::browserThatGivesUpLeavesNothingBehind() {
    WebRig rig;
    rig.permit({"RTM-RRT"});
    QVERIFY(rig.open());
    rig.exchange.silenceNext(1);
    const HttpProbe probe = rig.loggedIn();
    const int threads = entriesIn("/proc/self/task");
    const int socket = probe.send("POST", "/", "Command=RTM-RRT");
    QVERIFY(socket >= 0);
    QTRY_VERIFY(rig.exchange.commandsReceived() == 1);
    ::close(socket);
    rig.exchange.sendUnsolicited("LATE"); // the reply comes after the browser went
    QTRY_COMPARE(rig.replyWait.starts, 2);
    QVERIFY(rig.replyWait.elapse());
    rig.terminal->windowMessages().deliverPending();
    QCOMPARE(rig.terminal->dispatcher().WebReplyReady(), 1);
    QTRY_COMPARE(rig.terminal->dispatcher().WebReplyReady(),
                 0); // the request has taken its reply and answered
    rig.web->switchOff();
    QElapsedTimer clock;
    clock.start();
    rig.web->server().waitStopped(); // no thread is left waiting
    QVERIFY(clock.elapsed() < 1000);
    QVERIFY(entriesIn("/proc/self/task") <= threads);
    QVERIFY(rig.console.lines.isEmpty()); // the reply went nowhere else
    QCOMPARE(rig.terminal->queue().count(), 0);
}

void TestWebServer::switchOffReleasesWaitingRequests() {
    WebRig rig;
    rig.permit({"RTM-RRT", "SSD-RSP"});
    QVERIFY(rig.open());
    rig.exchange.silenceNext(10);
    const HttpProbe waiting = rig.loggedIn();
    auto first = rig.later([&] { return waiting.post("Command=RTM-RRT"); });
    QTRY_VERIFY(rig.exchange.commandsReceived() == 1);
    rig.exchange.sendUnsolicited("PARTIAL"); // a line of the first reply has come
    QTRY_COMPARE(rig.replyWait.starts, 2);   // it restarted the reply wait
    std::vector<std::future<HttpAnswer>> answers;
    for (int n = 0; n < 3; ++n)
        answers.push_back(rig.later([&] { return waiting.post("Command=SSD-RSP:1234,REST"); }));
    QTRY_COMPARE(rig.terminal->queue().count(), 4);
    QElapsedTimer clock;
    clock.start();
    rig.web->switchOff();
    QVERIFY(clock.elapsed() < 1000);
    QCOMPARE(rig.terminal->dispatcher().WebReplyReady(), 0);
    QCOMPARE(rig.web->webSlots().ConnectionCount(), 0);
    QCOMPARE(rig.await(first).body, ReplyPage::build({"PARTIAL"}));
    for (auto& answer : answers)
        QCOMPARE(rig.await(answer).body, PAGES["Command.html"]);
    QVERIFY(rig.console.lines.isEmpty());
}

// Opening a port throws the queue away; a request whose entry went is released at once.
void TestWebServer::reopenedPortReleasesWaitingRequest() {
    WebRig rig;
    rig.permit({"RTM-RRT"});
    QVERIFY(rig.open());
    rig.exchange.silenceNext(1);
    const HttpProbe probe = rig.loggedIn();
    rig.terminal->dispatcher().appendConsole("CON-SOLE");
    auto answer = rig.later([&] { return probe.post("Command=RTM-RRT"); });
    QTRY_COMPARE(rig.terminal->queue().count(), 2);
    rig.terminal->closePort();
    QVERIFY(rig.open());
    QCOMPARE(rig.await(answer).body, PAGES["Command.html"]);
}

// No compression whatever the client offers, no ranges: the page's own bytes, and for HEAD
// its headers alone.
void TestWebServer::pageBytesWhateverTheClientAsks_data() {
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("headers");
    const QByteArray compression = "Accept-Encoding: gzip, deflate, br\r\n";
    const QByteArray ranges = "Range: bytes=0-9,100-199\r\n";
    QTest::newRow("every compression offered") << QByteArray("GET") << compression;
    QTest::newRow("two ranges") << QByteArray("GET") << ranges;
    QTest::newRow("HEAD with both") << QByteArray("HEAD") << compression + ranges;
}

void TestWebServer::pageBytesWhateverTheClientAsks() {
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, headers);
    WebRig rig;
    const QByteArray page = QByteArray("<p>\xCA\xEE\xEC\xE0\xED\xE4\xE0 </p>\r\n").repeated(300);
    rig.write("WEB/big.html", page);
    const HttpProbe probe = rig.client();
    probe.get("/");
    const HttpAnswer answer = probe.request(method, "/big.html", {}, {}, headers);
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.body, method == "HEAD" ? QByteArray() : page);
    auto sent = answer.headers;
    sent.remove("date");
    const QMap<QByteArray, QByteArray> expected{
        {"connection", "close"},
        {"content-length", QByteArray::number(page.size())},
        {"content-security-policy", "frame-ancestors 'none'"},
        {"content-type", HttpServer::CONTENT_TYPE},
        {"x-frame-options", "DENY"}};
    QCOMPARE(sent, expected);
}

// A connection accepted before the switch-off is closed by it; what it sends afterwards is
// never handled and takes no slot. The port is free at once.
void TestWebServer::switchOffClosesConnectionsOpenedBefore_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    const QByteArray login = "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                             "application/x-www-form-urlencoded\r\nContent-Length: 11\r\n\r\n";
    QTest::newRow("idle") << QByteArray() << login + "Password=pw";
    QTest::newRow("half a request line")
        << QByteArray("GET /img/lo") << QByteArray("go.gif HTTP/1.1\r\nHost: x\r\n\r\n");
    QTest::newRow("a head without its body") << login << QByteArray("Password=pw");
}

void TestWebServer::switchOffClosesConnectionsOpenedBefore() {
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    WebRig rig;
    rig.passwords({"pw"});
    const int port = rig.web->port();
    const int socket = rig.opened(5, before);
    QVERIFY(socket >= 0);
    QTRY_COMPARE(rig.web->server().openConnections(), 1u);
    QElapsedTimer clock;
    clock.start();
    rig.web->switchOff();
    QVERIFY(clock.elapsed() < PROMPT_MS);
    QVERIFY(canListenOn(port, SO_REUSEADDR)); // as a server started anew would
    ::send(socket, after.constData(), size_t(after.size()), MSG_NOSIGNAL);
    QCOMPARE(HttpProbe::receive(socket).status, 0); // closed without an answer
    QVERIFY(clock.elapsed() < HttpServer::STOP_GRACE_MS + EXIT_MS);
    QCOMPARE(rig.web->webSlots().ConnectionCount(), 0);
    QCOMPARE(rig.web->switchOn(), QString());
    QCOMPARE(rig.client(5).get("/").body, PAGES["index.html"]); // a newcomer again
}

// Web commands queued behind a silent one when the switch goes off never reach the line;
// the one on the line finishes there, and the console's command behind them goes out next.
void TestWebServer::queuedWebCommandsNeverReachTheExchange() {
    WebRig rig;
    rig.permit({"RTM-RRT", "SSD-RSP"});
    QVERIFY(rig.open());
    rig.exchange.silenceNext(1);
    const HttpProbe user = rig.loggedIn();
    std::vector<std::future<HttpAnswer>> answers;
    answers.push_back(rig.later([&] { return user.post("Command=RTM-RRT"); }));
    QTRY_COMPARE(rig.exchange.commandsReceived(), 1);
    for (int n = 0; n < 3; ++n)
        answers.push_back(rig.later([&] { return user.post("Command=SSD-RSP:1,REST"); }));
    QTRY_COMPARE(rig.terminal->queue().count(), 4);
    rig.terminal->dispatcher().appendConsole("CON-SOLE");
    rig.web->switchOff();
    QCOMPARE(rig.terminal->queue().count(), 2); // the silent one and the console's
    for (auto& answer : answers)
        QCOMPARE(rig.await(answer).body, PAGES["Command.html"]);
    QVERIFY(rig.replyWait.elapse()); // the silent one gives up
    QTRY_COMPARE(rig.console.lines.count(QStringLiteral("CON-SOLE")), 1);
    QCOMPARE(QByteArray::fromStdString(rig.exchange.received()), "RTM-RRT\rCON-SOLE\r");
}

// The server closes a connection that sends nothing for its idle time, but not one whose
// command waits longer than that for its reply: the reply wait governs that one. The idle
// time is the library's own clock, which no fake can stand in for: it is cut to 1 s here.
void TestWebServer::parkedRequestOutlivesTheIdleTime() {
    HttpSettings settings;
    settings.idleTimeoutS = 1;
    WebRig rig(settings);
    rig.permit({"RTM-RRT"});
    QVERIFY(rig.open());
    rig.exchange.silenceNext(1);
    const HttpProbe user = rig.loggedIn();
    auto answer = rig.later([&] { return user.post("Command=RTM-RRT"); });
    QTRY_COMPARE(rig.exchange.commandsReceived(), 1);
    const int idle = rig.opened(2, "GET / HTTP/1.1\r\n");
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(HttpProbe::receive(idle).status, 0);
    QVERIFY(clock.elapsed() < 2 * 1000 + EXIT_MS);
    QTest::qWait(1500); // the command has now waited longer than a connection may idle
    QVERIFY(answer.wait_for(0s) == std::future_status::timeout);
    rig.exchange.sendUnsolicited("LATE<");
    QCOMPARE(rig.await(answer).body, ReplyPage::build({"LATE<"}));
}

void TestWebServer::httpsFilesAreChecked_data() {
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("failure"); // how the reason begins; "%1" is the folder
    QTest::newRow("a pair: HTTPS only") << "a.pem"
                                        << "a.key" << QString();
    QTest::newRow("no certificate file")
        << "none.pem"
        << "a.key"
        << R"(Cannot read the HTTPS certificate "%1/none.pem": No such file or directory)";
    QTest::newRow("no key file")
        << "a.pem"
        << "none.key"
        << R"(Cannot read the HTTPS key "%1/none.key": No such file or directory)";
    QTest::newRow("the certificate is not PEM")
        << "text"
        << "a.key"
        << R"(The HTTPS certificate "%1/text" is not a PEM certificate: )";
    QTest::newRow("the key is not PEM") << "a.pem"
                                        << "text"
                                        << R"(The HTTPS key "%1/text" is not a PEM private key: )";
    QTest::newRow("the key of another certificate")
        << "a.pem"
        << "b.key"
        << R"(The HTTPS key "%1/b.key" does not belong to the certificate "%1/a.pem": )";
    QTest::newRow("a key without a certificate")
        << ""
        << "a.key"
        << "HTTPS needs both KORVANT_HTTPS_CERT and KORVANT_HTTPS_KEY; KORVANT_HTTPS_CERT is "
           "not set";
}

void TestWebServer::httpsFilesAreChecked() {
    QFETCH(QString, certificate);
    QFETCH(QString, key);
    QFETCH(QString, failure);
    QTemporaryDir files;
    QVERIFY(makeCertificate(files.filePath("a.pem"), files.filePath("a.key")));
    QVERIFY(makeCertificate(files.filePath("b.pem"), files.filePath("b.key")));
    QVERIFY(writeFile(files.filePath("text"), "not a PEM file\n"));
    WebRig rig;
    FakeTimer expiry;
    const auto named = [&](const QString& name) {
        return name.isEmpty() ? name : files.filePath(name);
    };
    WebService https(rig.terminal->dispatcher(), rig.dir.path(),
                     HttpSettings{0, named(certificate), named(key)}, expiry, SlotClock::now);
    const QString reason = https.switchOn();
    if (failure.isEmpty()) {
        QCOMPARE(reason, QString());
        QCOMPARE(HttpProbe(https.port()).get("/").status, 0); // plain HTTP gets no page
        return;
    }
    const QString begins = failure.arg(files.path());
    QVERIFY2(reason.startsWith(begins) && (reason.size() > begins.size() || !begins.endsWith(' ')),
             qPrintable(reason));
    QVERIFY(!https.isListening());
}

// A command in the address of a navigation that the browser started itself is shown, never
// run; the page's button sends it by POST, as it would have gone, whatever its characters.
void TestWebServer::confirmedCommandRunsFromItsButton_data() {
    QTest::addColumn<QByteArray>("query");   // as the address bar sends it
    QTest::addColumn<QByteArray>("command"); // as it reaches the exchange
    QTest::newRow("plain") << QByteArray("Command=RTM-RRT") << QByteArray("RTM-RRT");
    QTest::newRow("spaces go, cut at 35")
        << QByteArray("Command=SSD-RSP:+2345,REST,0123456789,0123456789")
        << QByteArray("SSD-RSP:2345,REST,0123456789,012345");
    QTest::newRow("characters of HTML")
        << QByteArray("Command=RTM-RRT%22%27%26amp;%3E%22") << QByteArray("RTM-RRT\"'&amp;>\"");
    QTest::newRow("code page 1251")
        << QByteArray("Command=RTM-RRT:%C0%FF") << QByteArray("RTM-RRT:\xC0\xFF");
}

void TestWebServer::confirmedCommandRunsFromItsButton() {
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, command);
    WebRig rig;
    rig.permit({"RTM-RRT", "SSD-RSP"});
    QVERIFY(rig.open());
    const HttpProbe user = rig.loggedIn();
    const HttpAnswer shown =
        user.request("GET", "/?" + query, {}, {}, "Sec-Fetch-Site: none\r\nSec-Fetch-User: ?1\r\n");
    QCOMPARE(shown.status, 200);
    QCOMPARE(rig.exchange.commandsReceived(), 0);
    QCOMPARE(rig.terminal->queue().count(), 0);
    // The field's value as the browser reads it from the page, sent by its button.
    const QByteArray field = "<input type=\"hidden\" name=\"Command\" value=\"";
    const qsizetype from = shown.body.indexOf(field) + field.size();
    QVERIFY2(from >= field.size(), shown.body.constData());
    QByteArray value = shown.body.mid(from, shown.body.indexOf('"', from) - from);
    for (const auto& [reference, character] :
         {std::pair{"&quot;", "\""}, {"&#39;", "'"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}})
        value.replace(reference, character);
    QCOMPARE(value, command);
    auto reply = rig.later([&] {
        return user.request("POST", "/", "Command=" + value.toPercentEncoding(),
                            "application/x-www-form-urlencoded", "Sec-Fetch-Site: same-origin\r\n");
    });
    QVERIFY(rig.await(reply).body.startsWith(ReplyPage::HEAD));
    QCOMPARE(QByteArray::fromStdString(rig.exchange.received()), command + "\r");
}

// Three addresses that never know the password take the places back whenever they can, and
// guess just before each place would run out; a logged-in user holds the fourth place. A
// fifth user with the right password, trying every second, gets in within two minutes: a
// wrong password beyond the three free ones gives no more time, and a place that ran out
// rests a minute. On the fake clock, the web timer fired every second.
void TestWebServer::guessersCannotHoldThePlaces() {
    WebRig rig;
    rig.passwords({"pw"});
    rig.loggedIn(1);
    const HttpProbe user = rig.client(5);
    std::vector<int> guesses;
    const auto guess = [&](int n) {
        // Handled, or waiting for its turn, before the clock moves on.
        const std::size_t waiting = rig.web->passwordsWaiting();
        const int socket = rig.client(n).send("POST", "/", "Password=guess");
        guesses.push_back(socket);
        return QTest::qWaitFor([&] {
            pollfd answer{socket, POLLIN, 0};
            return ::poll(&answer, 1, 0) == 1 || rig.web->passwordsWaiting() > waiting;
        });
    };
    int admittedAt = -1;
    for (int second = 0; second <= 150 && admittedAt < 0; ++second) {
        for (int n : {2, 3, 4}) {
            const auto table = rig.web->webSlots().table();
            const auto held = std::ranges::find_if(table, [n](const WebSlot& slot) {
                return slot.address.bytes() == "127.0.0." + QByteArray::number(n);
            });
            if (held == table.end())
                rig.client(n).get("/");
            else if (held->deadline - rig.clock.now() <= 1s)
                QVERIFY(guess(n));
        }
        if (user.get("/").body == PAGES["index.html"]) {
            QCOMPARE(user.post("Password=pw").body, PAGES["Command.html"]);
            admittedAt = second;
        }
        rig.clock.advance(1s);
        QTRY_VERIFY(rig.expiry.isEnabled());
        rig.expiry.elapse();
    }
    for (const int socket : guesses)
        ::close(socket);
    QVERIFY2(admittedAt >= 0 && admittedAt <= 120, qPrintable(QString::number(admittedAt)));
    QCOMPARE(rig.web->webSlots().stateOf("127.0.0.5"), SlotLoggedIn);
}

// A known client's paths that lead out of the page folder to a fifo that a writer waits on:
// the fifo is never opened, whatever the way out ("..", escaped, a link), so the writer
// goes on waiting and the server's one thread never does.
void TestWebServer::pageFolderOpensNothingOutside_data() {
    QTest::addColumn<QByteArray>("target");
    QTest::newRow("up") << QByteArray("/../fifo");
    QTest::newRow("up, escaped") << QByteArray("/%2e%2e/fifo");
    QTest::newRow("up, its slash escaped") << QByteArray("/..%2ffifo");
    QTest::newRow("down and twice up") << QByteArray("/img/../../fifo");
    QTest::newRow("a link to it") << QByteArray("/link");
    QTest::newRow("a relative link to it") << QByteArray("/relative");
    QTest::newRow("through a folder link out") << QByteArray("/outside/fifo");
    QTest::newRow("a link back to the folder, then up") << QByteArray("/img/home/../fifo");
}

void TestWebServer::pageFolderOpensNothingOutside() {
    QFETCH(QByteArray, target);
    WebRig rig;
    const QByteArray fifo = QFile::encodeName(rig.dir.filePath("fifo"));
    const QByteArray web = QFile::encodeName(rig.dir.filePath("WEB"));
    QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
    QCOMPARE(::symlink(fifo.constData(), (web + "/link").constData()), 0);
    QCOMPARE(::symlink("../fifo", (web + "/relative").constData()), 0);
    QCOMPARE(
        ::symlink(QFile::encodeName(rig.dir.path()).constData(), (web + "/outside").constData()),
        0);
    QCOMPARE(::symlink(web.constData(), (web + "/img/home").constData()), 0);
    const int opens = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(opens >= 0 && ::inotify_add_watch(opens, fifo.constData(), IN_OPEN) >= 0);
    std::atomic<bool> written{false};
    std::thread writer([&] {
        const int end = ::open(fifo.constData(), O_WRONLY | O_CLOEXEC); // waits for a reader
        written = true;
        ::close(end);
    });
    const HttpProbe probe = rig.client();
    QCOMPARE(probe.get("/").body, PAGES["index.html"]);
    QCOMPARE(probe.get(target).body, PAGES["NoPage.html"]);
    char event[sizeof(inotify_event) + NAME_MAX + 1];
    const bool opened = ::read(opens, event, sizeof event) > 0;
    const bool writerWentOn = written;
    const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); // frees it
    writer.join();
    ::close(reader);
    ::close(opens);
    QVERIFY(!opened);
    QVERIFY(!writerWentOn);
}

// A body of exactly BODY_LIMIT bytes is taken whole and answered; one byte more closes the
// connection without an answer, its length declared or sent in chunks.
void TestWebServer::bodyLimitIsExact_data() {
    QTest::addColumn<bool>("chunked");
    QTest::addColumn<long long>("size");
    QTest::newRow("declared, the limit") << false << HttpServer::BODY_LIMIT;
    QTest::newRow("declared, a byte more") << false << HttpServer::BODY_LIMIT + 1;
    QTest::newRow("chunked, the limit") << true << HttpServer::BODY_LIMIT;
    QTest::newRow("chunked, a byte more") << true << HttpServer::BODY_LIMIT + 1;
}

void TestWebServer::bodyLimitIsExact() {
    QFETCH(bool, chunked);
    QFETCH(long long, size);
    WebRig rig;
    rig.passwords({"pw"});
    QCOMPARE(rig.client().get("/").body, PAGES["index.html"]);
    const QByteArray form = "Password=pw" + QByteArray(qsizetype(size) - 11, '&'); // one field
    QByteArray request = "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                         "Content-Type: application/x-www-form-urlencoded\r\n";
    if (chunked) {
        request += "Transfer-Encoding: chunked\r\n\r\n";
        for (qsizetype at = 0; at < form.size(); at += 4096) {
            const QByteArray piece = form.mid(at, 4096);
            request += QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n";
        }
        request += "0\r\n\r\n";
    } else {
        request += "Content-Length: " + QByteArray::number(size) + "\r\n\r\n" + form;
    }
    const HttpAnswer answer = HttpProbe::receive(rig.opened(1, request));
    const bool taken = size <= HttpServer::BODY_LIMIT;
    QCOMPARE(answer.status, taken ? 200 : 0);
    QCOMPARE(answer.body, taken ? PAGES["Command.html"] : QByteArray());
    QCOMPARE(rig.web->webSlots().stateOf("127.0.0.1"), taken ? SlotLoggedIn : SlotConnected);
}

// HTTPS speaks TLS 1.2 and 1.3 only: a client that offers nothing newer than TLS 1.0 or 1.1
// (openssl, let to offer them) is refused in the handshake.
void TestWebServer::httpsSpeaksOnlyTls12And13_data() {
    QTest::addColumn<QString>("version"); // the client's option
    QTest::addColumn<QString>("agreed");  // empty: refused
    QTest::newRow("TLS 1.0") << "-tls1" << QString();
    QTest::newRow("TLS 1.1") << "-tls1_1" << QString();
    QTest::newRow("TLS 1.2") << "-tls1_2"
                             << "TLSv1.2";
    QTest::newRow("TLS 1.3") << "-tls1_3"
                             << "TLSv1.3";
}

void TestWebServer::httpsSpeaksOnlyTls12And13() {
    QFETCH(QString, version);
    QFETCH(QString, agreed);
    QTemporaryDir files;
    const HttpSettings settings{0, files.filePath("certificate.pem"), files.filePath("key.pem")};
    QVERIFY(makeCertificate(settings.certificateFile, settings.keyFile));
    WebRig rig(settings);
    QProcess client;
    client.setProcessChannelMode(QProcess::MergedChannels);
    client.start(QStringLiteral("openssl"),
                 {QStringLiteral("s_client"), QStringLiteral("-brief"), QStringLiteral("-connect"),
                  QStringLiteral("127.0.0.1:%1").arg(rig.web->port()), version,
                  QStringLiteral("-cipher"), QStringLiteral("DEFAULT:@SECLEVEL=0")});
    client.closeWriteChannel();
    QVERIFY(client.waitForFinished(30000));
    const QByteArray output = client.readAll();
    if (agreed.isEmpty())
        QVERIFY2(client.exitCode() != 0 && !output.contains("CONNECTION ESTABLISHED"),
                 output.constData());
    else
        QVERIFY2(client.exitCode() == 0 && output.contains("Protocol version: " + agreed.toUtf8()),
                 output.constData());
}

QTEST_GUILESS_MAIN(TestWebServer)
#include "tst_webserver.moc"
