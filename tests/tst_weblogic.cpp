#include "Fakes.h"
#include "Probes.h"
#include "web/PageFolder.h"
#include "web/PasswordThrottle.h"
#include "web/RequestGuards.h"
#include "web/RequestHandler.h"
#include "web/WebAccessList.h"
#include "web/WebParameters.h"
#include "web/WebSlots.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using List = WebAccessList::List;
using Outcome = WebSlots::Outcome;

QByteArray address(int n) {
    return "10.0.0." + QByteArray::number(n);
}

const QByteArray NOTHING = "(nothing served)";

QByteArray served(const PageFolder& pages, QByteArrayView path) {
    const auto file = pages.serve(path);
    return file ? file->readAll() : NOTHING;
}

} // namespace

class TestWebLogic : public QObject {
    Q_OBJECT
private slots:
    // List files.
    void parseListFile_data();
    void parseListFile();
    void formatWritesCrLfAfterEveryEntry();
    void missingFileIsEmptyList();
    void writeReplacesWholeFileOwnerOnly();
    void failedWriteKeepsOldFile_data();
    void failedWriteKeepsOldFile();
    void readersNeverSeeHalfChangedList();
    void matchingIsWholeAndByteForByte_data();
    void matchingIsWholeAndByteForByte();
    // Parameters.
    void parameterText_data();
    void parameterText();
    void valueOf_data();
    void valueOf();
    // Page folder.
    void onlyFilesInsideTheFolderAreServed_data();
    void onlyFilesInsideTheFolderAreServed();
    void servedFileIsTheOneChecked_data();
    void servedFileIsTheOneChecked();
    void fileNameIsCutAt80();
    void unreadablePageNamesFileAndReason();
    void replyPageBytes();
    void pendingResponseResumesOnce_data();
    void pendingResponseResumesOnce();
    // Slots.
    void fifthAddressIsFullUntilASlotFrees();
    void knownAddressWhileAllFull();
    void addressesEqualInFirst15ShareASlot();
    void deadlinesAndRestarts();
    void staleRequestNeverTouchesNewcomer();
    void freeAllEmptiesTheTable();
    void placesThatRanOutRest_data();
    void placesThatRanOutRest();
    void restsAreBounded();
    void concurrentAdmissionsNeverShareASlot();
    // Guards and the password throttle.
    void guards_data();
    void guards();
    void passwordChecksAreSpaced_data();
    void passwordChecksAreSpaced();
    void throttleRemembersAtMost256Addresses();
    void simultaneousPasswordsGetThreeFreeTries();
};

void TestWebLogic::parseListFile_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<EntryList>("entries");
    QTest::newRow("CR LF") << QByteArray("one\r\ntwo\r\n") << EntryList{"one", "two"};
    QTest::newRow("LF") << QByteArray("one\ntwo\n") << EntryList{"one", "two"};
    QTest::newRow("CR") << QByteArray("one\rtwo\r") << EntryList{"one", "two"};
    QTest::newRow("mixed in one file")
        << QByteArray("a\rb\nc\r\nd") << EntryList{"a", "b", "c", "d"};
    QTest::newRow("no break after the last") << QByteArray("one\r\ntwo") << EntryList{"one", "two"};
    QTest::newRow("empty lines are empty entries")
        << QByteArray("\r\none\n\n\rtwo\r\n") << EntryList{"", "one", "", "", "two"};
    QTest::newRow("LF CR is two breaks") << QByteArray("a\n\rb") << EntryList{"a", "", "b"};
    QTest::newRow("empty file") << QByteArray() << EntryList{};
    QTest::newRow("one empty line") << QByteArray("\r\n") << EntryList{""};
    QTest::newRow("spaces and code page 1251 kept")
        << QByteArray(" \xEF\xE0\xF0\xEE\xEB\xFC \r\n\x80\xFF")
        << EntryList{" \xEF\xE0\xF0\xEE\xEB\xFC ", "\x80\xFF"};
    EntryList thirteen;
    QByteArray text;
    for (int i = 1; i <= 13; ++i) {
        thirteen << "pw" + QByteArray::number(i);
        text += "pw" + QByteArray::number(i) + "\r\n";
    }
    QTest::newRow("13 entries, all of them") << text << thirteen;
}

void TestWebLogic::parseListFile() {
    QFETCH(QByteArray, text);
    QFETCH(EntryList, entries);
    QCOMPARE(ListFiles::parse(text), entries);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("Password"), text));
    QCOMPARE(ListFiles::read(dir.filePath("Password")), entries);
}

void TestWebLogic::formatWritesCrLfAfterEveryEntry() {
    QCOMPARE(ListFiles::format({"SSD-RSP", "", "\xD1\xD2"}),
             QByteArray("SSD-RSP\r\n\r\n\xD1\xD2\r\n"));
    QCOMPARE(ListFiles::format({}), QByteArray());
    // What is written reads back the same.
    const EntryList entries{"", "a b", "", "\x80"};
    QCOMPARE(ListFiles::parse(ListFiles::format(entries)), entries);
}

void TestWebLogic::missingFileIsEmptyList() {
    QTemporaryDir dir;
    QVERIFY(ListFiles::read(dir.filePath("Password")).isEmpty());
}

void TestWebLogic::writeReplacesWholeFileOwnerOnly() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Password");
    QVERIFY(writeFile(path, QByteArray(1000, 'x'))); // a longer old file leaves no tail
    ::chmod(QFile::encodeName(path).constData(), 0644);
    QCOMPARE(ListFiles::write(path, {"secret", "\xEF\xE0\xF0"}, true), QString());
    QCOMPARE(readFile(path), QByteArray("secret\r\n\xEF\xE0\xF0\r\n"));
    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, mode_t(0600));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"Password"}); // no temporary left

    const QString commands = dir.filePath("CommandWeb");
    QCOMPARE(ListFiles::write(commands, {}, false), QString()); // an empty list: an empty file
    QCOMPARE(readFile(commands), QByteArray());
}

void TestWebLogic::failedWriteKeepsOldFile_data() {
    QTest::addColumn<QString>("setup");
    QTest::newRow("the folder is gone") << "missing";
    QTest::newRow("a folder stands where the file should be") << "directory";
}

void TestWebLogic::failedWriteKeepsOldFile() {
    QFETCH(QString, setup);
    QTemporaryDir dir;
    QString path = dir.filePath("Password");
    if (setup == "missing")
        path = dir.filePath("gone/Password");
    else
        QVERIFY(QDir(dir.path()).mkdir("Password"));
    const QString reason = ListFiles::write(path, {"secret"}, true);
    QVERIFY2(!reason.isEmpty(), "a failure must be reported");
    QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty()); // nothing half-written left
}

// A reader on another thread sees each list whole, as it stood before or after a change.
void TestWebLogic::readersNeverSeeHalfChangedList() {
    WebAccessList lists;
    const EntryList small{"a"};
    EntryList large;
    for (int i = 0; i < 100; ++i)
        large << QByteArray::number(i);
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] {
            while (!done) {
                const auto seen = lists.snapshot(List::Permitted);
                if (*seen != small && *seen != large && !seen->isEmpty())
                    ++torn;
                lists.commandPermitted("42");
            }
        });
    for (int i = 0; i < 2000; ++i)
        lists.replace(List::Permitted, i % 2 ? small : large);
    done = true;
    for (auto& reader : readers)
        reader.join();
    QCOMPARE(torn.load(), 0);
}

void TestWebLogic::matchingIsWholeAndByteForByte_data() {
    QTest::addColumn<EntryList>("entries");
    QTest::addColumn<QByteArray>("candidate");
    QTest::addColumn<bool>("matches");
    QTest::newRow("equal") << EntryList{"RTM-RRT"} << QByteArray("RTM-RRT") << true;
    QTest::newRow("case matters") << EntryList{"RTM-RRT"} << QByteArray("rtm-rrt") << false;
    QTest::newRow("a longer entry never matches a head")
        << EntryList{"SSD-RSP:"} << QByteArray("SSD-RSP") << false;
    QTest::newRow("a prefix is not equal") << EntryList{"SSD"} << QByteArray("SSD-RSP") << false;
    QTest::newRow("empty list permits nothing") << EntryList{} << QByteArray("") << false;
    QTest::newRow("an empty entry matches an empty value")
        << EntryList{"x", ""} << QByteArray("") << true;
    QTest::newRow("code page 1251 bytes")
        << EntryList{"\xCF\xC0\xD0"} << QByteArray("\xCF\xC0\xD0") << true;
}

void TestWebLogic::matchingIsWholeAndByteForByte() {
    QFETCH(EntryList, entries);
    QFETCH(QByteArray, candidate);
    QFETCH(bool, matches);
    WebAccessList lists;
    lists.replace(List::Passwords, entries);
    lists.replace(List::Permitted, entries);
    QCOMPARE(lists.passwordMatches(candidate), matches);
    QCOMPARE(lists.commandPermitted(candidate), matches);
}

void TestWebLogic::parameterText_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("none") << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("one field") << QByteArray("Command=RTM-RRT") << QByteArray()
                               << QByteArray("Command=RTM-RRT\r\n");
    QTest::newRow("order kept, not sorted by name")
        << QByteArray("b=2&a=1") << QByteArray() << QByteArray("b=2\r\na=1\r\n");
    QTest::newRow("body first, then the query")
        << QByteArray("x=body") << QByteArray("y=query") << QByteArray("x=body\r\ny=query\r\n");
    QTest::newRow("plus is a space, escapes decoded")
        << QByteArray() << QByteArray("c=SSD-RSP%3A2345%2CREST+X")
        << QByteArray("c=SSD-RSP:2345,REST X\r\n");
    QTest::newRow("a plus sent as %2B stays a plus")
        << QByteArray("c=a%2Bb") << QByteArray() << QByteArray("c=a+b\r\n");
    QTest::newRow("code page 1251 escapes become bytes")
        << QByteArray("p=%EF%E0%F0") << QByteArray() << QByteArray("p=\xEF\xE0\xF0\r\n");
    QTest::newRow("an escaped '=' and '&' are data")
        << QByteArray("p=a%3Db%26c") << QByteArray() << QByteArray("p=a=b&c\r\n");
    QTest::newRow("a broken escape stays as it came")
        << QByteArray("p=100%&q=%zz") << QByteArray() << QByteArray("p=100%\r\nq=%zz\r\n");
    QTest::newRow("empty pieces are no parameters")
        << QByteArray("&&a=1&") << QByteArray() << QByteArray("a=1\r\n");
    QTest::newRow("a name without value")
        << QByteArray() << QByteArray("flag") << QByteArray("flag\r\n");
}

void TestWebLogic::parameterText() {
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, text);
    QCOMPARE(WebParameters::parameterText(body, query), text);
}

void TestWebLogic::valueOf_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("one parameter") << QByteArray("Command=RTM-RRT\r\n") << QByteArray("RTM-RRT");
    QTest::newRow("two run together") << QByteArray("a=1\r\nb=2\r\n") << QByteArray("1b=2");
    QTest::newRow("spaces between the parts go")
        << QByteArray("c=SSD-RSP: 2345 , REST\r\n") << QByteArray("SSD-RSP:2345,REST");
    QTest::newRow("no '='") << QByteArray("flag\r\n") << QByteArray();
    QTest::newRow("begins with '='") << QByteArray("=value\r\n") << QByteArray();
    QTest::newRow("empty value") << QByteArray("Password=\r\n") << QByteArray();
    QTest::newRow("control bytes and byte 0 go") << QByteArray("p=a\tb\x01"
                                                               "c\0d\x7f"
                                                               "e\r\n",
                                                               13)
                                                 << QByteArray("abcd\x7f"
                                                               "e");
    QTest::newRow("code page 1251 bytes stay (they are above 32)")
        << QByteArray("p=\xA0\xEF\xFF\r\n") << QByteArray("\xA0\xEF\xFF");
    QTest::newRow("only the first 80 characters count")
        << QByteArray("c=") + QByteArray(78, 'A') + "BBBB\r\n"
        << QByteArray(78, 'A');
    QTest::newRow("'=' after the 80th character is not seen") << QByteArray(80, 'n') + "=v\r\n"
                                                              << QByteArray();
}

void TestWebLogic::valueOf() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, value);
    QCOMPARE(WebParameters::valueOf(text), value);
}

void TestWebLogic::onlyFilesInsideTheFolderAreServed_data() {
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("served"); // NOTHING when no file is served
    QTest::newRow("a picture") << QByteArray("/img/logo.gif") << QByteArray("GIF");
    QTest::newRow("a page") << QByteArray("/Command.html") << QByteArray("command");
    QTest::newRow("missing") << QByteArray("/nothing.gif") << NOTHING;
    QTest::newRow("up and out") << QByteArray("/../secret.txt") << NOTHING;
    QTest::newRow("up and back in") << QByteArray("/img/../Command.html") << QByteArray("command");
    QTest::newRow("far up") << QByteArray("/../../../../../../etc/passwd") << NOTHING;
    QTest::newRow("double slash is not absolute") << QByteArray("//etc/passwd") << NOTHING;
    QTest::newRow("still encoded dots name no folder")
        << QByteArray("/%2e%2e/secret.txt") << NOTHING;
    QTest::newRow("backslashes") << QByteArray("/..\\secret.txt") << NOTHING;
    QTest::newRow("backslash to a file that exists") << QByteArray("/img\\logo.gif") << NOTHING;
    QTest::newRow("NUL byte") << QByteArray("/Command.html\0.gif", 18) << NOTHING;
    QTest::newRow("a folder") << QByteArray("/img") << NOTHING;
    QTest::newRow("a folder with slash") << QByteArray("/img/") << NOTHING;
    QTest::newRow("the folder itself") << QByteArray("") << NOTHING;
    QTest::newRow("a fifo") << QByteArray("/fifo") << NOTHING;
    QTest::newRow("a link inside that leads out") << QByteArray("/out.txt") << NOTHING;
    QTest::newRow("a folder link that leads out") << QByteArray("/outside/secret.txt") << NOTHING;
    QTest::newRow("a sibling folder whose name begins like it")
        << QByteArray("/../WEB2/page.html") << NOTHING;
    QTest::newRow("a link inside to a file inside")
        << QByteArray("/alias.html") << QByteArray("command");
    QTest::newRow("a relative link up to a file inside")
        << QByteArray("/img/up.html") << QByteArray("command");
    QTest::newRow("a link to the folder itself, then a file")
        << QByteArray("/img/home/img/logo.gif") << QByteArray("GIF");
    QTest::newRow("a link to the folder itself, then up")
        << QByteArray("/img/home/../secret.txt") << NOTHING;
    QTest::newRow("a file is no folder") << QByteArray("/Command.html/") << NOTHING;
    QTest::newRow("a loop of links") << QByteArray("/loop") << NOTHING;
    QTest::newRow("40 links are followed") << QByteArray("/chain3") << QByteArray("command");
    QTest::newRow("the 41st is not") << QByteArray("/chain2") << NOTHING;
}

void TestWebLogic::onlyFilesInsideTheFolderAreServed() {
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, served);
    QTemporaryDir dir;
    QDir root(dir.path());
    QVERIFY(root.mkpath("WEB/img") && root.mkpath("WEB2"));
    QVERIFY(writeFile(root.filePath("WEB/img/logo.gif"), "GIF"));
    QVERIFY(writeFile(root.filePath("WEB/Command.html"), "command"));
    QVERIFY(writeFile(root.filePath("WEB2/page.html"), "a sibling's page"));
    QVERIFY(writeFile(root.filePath("secret.txt"), "secret"));
    QCOMPARE(::mkfifo(QFile::encodeName(root.filePath("WEB/fifo")).constData(), 0600), 0);
    QVERIFY(QFile::link(root.filePath("secret.txt"), root.filePath("WEB/out.txt")));
    QVERIFY(QFile::link(root.path(), root.filePath("WEB/outside")));
    QVERIFY(QFile::link(root.filePath("WEB/Command.html"), root.filePath("WEB/alias.html")));
    const auto link = [&](const char* target, const QString& name) {
        return ::symlink(target, QFile::encodeName(root.filePath(name)).constData()) == 0;
    };
    QVERIFY(link("../Command.html", "WEB/img/up.html"));
    QVERIFY(QFile::link(root.filePath("WEB"), root.filePath("WEB/img/home")));
    QVERIFY(link("loop", "WEB/loop"));
    // chain<n> leads through chain42 to the page: 43 - n links.
    for (int n = 2; n <= PageFolder::LINKS_FOLLOWED + 2; ++n)
        QVERIFY(link(n < PageFolder::LINKS_FOLLOWED + 2
                         ? QByteArray("chain" + QByteArray::number(n + 1)).constData()
                         : "Command.html",
                     QStringLiteral("WEB/chain%1").arg(n)));
    const PageFolder pages(dir.path());
    QCOMPARE(::served(pages, path), served);
}

// The file is checked once it is open: a link swapped before the open leads to the file it
// now names, and is refused when that lies outside; swapped after the open, it changes
// nothing of what is served. The outside file is never served.
void TestWebLogic::servedFileIsTheOneChecked_data() {
    QTest::addColumn<bool>("swapBeforeOpen");
    QTest::addColumn<QByteArray>("served");
    QTest::newRow("swapped before the open") << true << NOTHING;
    QTest::newRow("swapped after the open") << false << QByteArray("command");
}

void TestWebLogic::servedFileIsTheOneChecked() {
    QFETCH(bool, swapBeforeOpen);
    QFETCH(QByteArray, served);
    QTemporaryDir dir;
    QDir root(dir.path());
    QVERIFY(root.mkpath("WEB"));
    QVERIFY(writeFile(root.filePath("WEB/Command.html"), "command"));
    QVERIFY(writeFile(root.filePath("secret.txt"), "secret"));
    const QString link = root.filePath("WEB/link.html");
    QVERIFY(QFile::link(root.filePath("WEB/Command.html"), link));
    const auto pointOutside = [&] {
        QVERIFY(QFile::remove(link) && QFile::link(root.filePath("secret.txt"), link));
    };
    PageFolder pages(dir.path());
    if (swapBeforeOpen)
        pointOutside();
    else
        pages.onOpened(pointOutside);
    QCOMPARE(::served(pages, "/link.html"), served);
}

void TestWebLogic::fileNameIsCutAt80() {
    const QByteArray path = "/" + QByteArray(100, 'p');
    QCOMPARE(PageFolder::fileName(path), QByteArray("WEB/") + QByteArray(76, 'p'));
    QCOMPARE(PageFolder::fileName(path).size(), 80);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("WEB"));
    QVERIFY(writeFile(dir.filePath("WEB/" + QString(76, 'p')), "cut"));
    const PageFolder pages(dir.path());
    QCOMPARE(::served(pages, path), QByteArray("cut"));
}

void TestWebLogic::unreadablePageNamesFileAndReason() {
    QTemporaryDir dir;
    const PageFolder pages(dir.path());
    const auto read = pages.read(QString::fromLatin1(PageFolder::LOGIN));
    QVERIFY(!read.file);
    QCOMPARE(read.error,
             QStringLiteral("Cannot open file \"%1/WEB/index.html\". No such file or directory")
                 .arg(dir.path()));
}

void TestWebLogic::replyPageBytes() {
    QCOMPARE(ReplyPage::HEAD.size(), 144);
    QVERIFY(ReplyPage::HEAD.contains("</head>\r\n<body>"));
    const QByteArray expected =
        "<html><head><title>Command</title></head>\r\n<body><form method=\"POST\"><input "
        "type=\"text\" name=\"Command\"><input type=\"submit\" value=\"Send\"></form>"
        "RTM-RRT<br>\xC2\xD0\xC5\xCC\xDF 12:00 <b><br><<br></h1></body></html>";
    QCOMPARE(ReplyPage::build({"RTM-RRT", "\xC2\xD0\xC5\xCC\xDF 12:00 <b>", "<"}), expected);
    QCOMPARE(ReplyPage::build({""}), ReplyPage::HEAD + "<br>" + ReplyPage::TAIL);
}

// A parked connection is resumed exactly once, and never after the server withdrew it: a
// second resume, or one after the stop, would touch a connection the library has freed.
void TestWebLogic::pendingResponseResumesOnce_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("parked");
    QTest::addColumn<int>("resumed"); // by a completion, or by the server after a withdraw
    QTest::newRow("complete before the server parks: sent at once")
        << QStringList{"complete", "park"} << 0 << 0;
    QTest::newRow("parked, completed twice")
        << QStringList{"park", "complete", "complete"} << 1 << 1;
    QTest::newRow("withdrawn by the stop, completed later")
        << QStringList{"park", "withdraw", "complete"} << 1 << 1;
    QTest::newRow("completed, then the stop finds nothing to withdraw")
        << QStringList{"park", "complete", "withdraw"} << 1 << 1;
}

void TestWebLogic::pendingResponseResumesOnce() {
    QFETCH(QStringList, steps);
    QFETCH(int, parked);
    QFETCH(int, resumed);
    PendingResponse pending;
    int parks = 0;
    int resumes = 0;
    for (const QString& step : steps) {
        if (step == "complete")
            pending.complete({200, QByteArray("page")});
        else if (step == "park" && pending.parkUntilComplete([&] { ++parks; }, [&] { ++resumes; }))
            QVERIFY(!pending.isComplete());
        else if (const auto resume = step == "withdraw" ? pending.withdraw() : nullptr)
            resume();
    }
    QCOMPARE(parks, parked);
    QCOMPARE(resumes, resumed);
    QCOMPARE(pending.response(), (WebResponse{200, QByteArray("page")}));
}

void TestWebLogic::fifthAddressIsFullUntilASlotFrees() {
    WebSlots table;
    FakeClock clock;
    for (int n = 1; n <= 4; ++n) {
        const auto admitted = table.admit(address(n), clock.now());
        QCOMPARE(int(admitted.outcome), int(Outcome::Admitted));
        QCOMPARE(admitted.slot, n - 1);
        clock.advance(1s);
    }
    const auto before = table.table();
    QCOMPARE(table.admit(address(5), clock.now()).outcome, Outcome::Full);
    QVERIFY(table.table()[3].address == before[3].address);
    QCOMPARE(table.ConnectionCount(), 4);
    clock.advance(WebSlots::CONNECTED_TIMEOUT - 4s); // the first slot's time has come
    QCOMPARE(table.nextDeadline().value(), clock.now());
    QCOMPARE(int(table.expire(clock.now()).size()), 1);
    const auto fifth = table.admit(address(5), clock.now());
    QCOMPARE(fifth.outcome, Outcome::Admitted);
    QCOMPARE(fifth.slot, 0);
    QCOMPARE(table.ConnectionCount(), 4);
}

void TestWebLogic::knownAddressWhileAllFull() {
    WebSlots table;
    FakeClock clock;
    for (int n = 1; n <= 4; ++n)
        table.admit(address(n), clock.now());
    const auto third = table.admit(address(3), clock.now() + 10s);
    QCOMPARE(third.outcome, Outcome::Known);
    QCOMPARE(third.slot, 2);
    // The admission of a known address leaves its time-out alone.
    QCOMPARE(table.table()[2].deadline, clock.now() + WebSlots::CONNECTED_TIMEOUT);
}

void TestWebLogic::addressesEqualInFirst15ShareASlot() {
    WebSlots table;
    FakeClock clock;
    QCOMPARE(table.admit("192.168.100.1001", clock.now()).outcome, Outcome::Admitted);
    const auto second = table.admit("192.168.100.1002", clock.now());
    QCOMPARE(second.outcome, Outcome::Known);
    QCOMPARE(second.slot, 0);
    QCOMPARE(table.table()[0].address.bytes(), QByteArray("192.168.100.100"));
    // Compared whole: a shorter address that is a prefix is another client.
    QCOMPARE(table.admit("192.168.100.10", clock.now()).slot, 1);
}

void TestWebLogic::deadlinesAndRestarts() {
    WebSlots table;
    FakeClock clock;
    const auto client = table.admit(address(1), clock.now());
    QCOMPARE(table.state(client), SlotConnected);
    clock.advance(20s);
    table.restart(client, clock.now()); // a wrong password: 30 s from now
    QCOMPARE(table.nextDeadline().value(), clock.now() + 30s);
    QCOMPARE(int(table.expire(clock.now() + 29s).size()), 0);
    table.NextConnect(client, clock.now());
    QCOMPARE(table.state(client), SlotLoggedIn);
    QCOMPARE(table.nextDeadline().value(), clock.now() + 5min);
    clock.advance(4min);
    table.restart(client, clock.now()); // a request for "/": 5 more minutes
    QCOMPARE(int(table.expire(clock.now() + 5min - 1ms).size()), 0);
    QCOMPARE(int(table.expire(clock.now() + 5min).size()), 1);
    QCOMPARE(table.state(client), SlotFree);
    QCOMPARE(table.ConnectionCount(), 0);
    QVERIFY(!table.nextDeadline());
}

// A request whose slot expired and went to another client never changes the newcomer's.
void TestWebLogic::staleRequestNeverTouchesNewcomer() {
    WebSlots table;
    FakeClock clock;
    const auto old = table.admit(address(1), clock.now());
    QCOMPARE(int(table.expire(clock.now() + 30s).size()), 1);
    const auto newcomer = table.admit(address(2), clock.now() + 30s);
    QCOMPARE(newcomer.slot, old.slot);
    table.NextConnect(old, clock.now() + 31s);
    table.restart(old, clock.now() + 40s);
    QCOMPARE(table.state(old), SlotFree);
    QCOMPARE(table.state(newcomer), SlotConnected);
    QCOMPARE(table.nextDeadline().value(), clock.now() + 60s);
}

void TestWebLogic::freeAllEmptiesTheTable() {
    WebSlots table;
    FakeClock clock;
    int changes = 0;
    table.onChange([&] { ++changes; });
    for (int n = 1; n <= 3; ++n)
        table.admit(address(n), clock.now());
    QCOMPARE(changes, 3);
    table.freeAll();
    QCOMPARE(changes, 4);
    QCOMPARE(table.ConnectionCount(), 0);
    QVERIFY(!table.nextDeadline());
    for (const WebSlot& slot : table.table())
        QVERIFY(slot.state == SlotFree && slot.address.isEmpty());
    QCOMPARE(table.admit(address(9), clock.now()).slot, 0);
}

// Each step is done at a time (s) by address n: "admit n" expects an outcome (A admitted,
// K known, R resting, F full), "login n" logs it in, "expire" frees what has run out,
// "off" switches the server off.
void TestWebLogic::placesThatRanOutRest_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("ran out before a password: a minute's rest from the place's end") << QStringList{
        "0 admit 1 A", "30 expire", "30 admit 1 R", "89.999 admit 1 R", "90 admit 1 A"};
    QTest::newRow("the timer came late: the rest still counts from the place's end")
        << QStringList{"0 admit 1 A", "75 expire", "89.999 admit 1 R", "90 admit 1 A"};
    QTest::newRow("only that address rests")
        << QStringList{"0 admit 1 A", "30 expire", "30 admit 2 A", "30 admit 1 R"};
    QTest::newRow("a resting address is told so, also when all places are taken")
        << QStringList{"0 admit 1 A",  "30 expire",    "31 admit 2 A", "31 admit 3 A",
                       "31 admit 4 A", "31 admit 5 A", "31 admit 1 R", "31 admit 6 F"};
    QTest::newRow("logged in, then silent: no rest")
        << QStringList{"0 admit 1 A", "1 login 1", "301 expire", "301 admit 1 A"};
    QTest::newRow("switched off: no rest")
        << QStringList{"0 admit 1 A", "30 expire", "31 off", "31 admit 1 A"};
}

void TestWebLogic::placesThatRanOutRest() {
    QFETCH(QStringList, steps);
    WebSlots table;
    const FakeClock::time_point start{};
    std::map<int, WebSlots::Admission> clients;
    const QMap<QString, Outcome> outcomes{{"A", Outcome::Admitted},
                                          {"K", Outcome::Known},
                                          {"R", Outcome::Resting},
                                          {"F", Outcome::Full}};
    for (const QString& step : steps) {
        const QStringList word = step.split(' ');
        const auto at = start + std::chrono::milliseconds(qRound64(word[0].toDouble() * 1000));
        const int n = word.size() > 2 ? word[2].toInt() : 0;
        if (word[1] == "admit") {
            clients[n] = table.admit(address(n), at);
            QVERIFY2(clients[n].outcome == outcomes[word[3]], qPrintable(step));
        } else if (word[1] == "login") {
            table.NextConnect(clients[n], at);
        } else if (word[1] == "expire") {
            table.expire(at);
        } else {
            table.freeAll();
        }
    }
}

// Addresses running out, many more than the rests can hold, on a clock that goes back:
// never more than RESTING_LIMIT rest, the ones that end first leave.
void TestWebLogic::restsAreBounded() {
    WebSlots table;
    const FakeClock::time_point start{};
    for (int round = 0; round < 10; ++round) {
        for (int slot = 0; slot < WebSlots::SLOT_COUNT; ++slot)
            table.admit(address(round * WebSlots::SLOT_COUNT + slot),
                        start + std::chrono::milliseconds(round));
        QCOMPARE(int(table.expire(start + 1h).size()), WebSlots::SLOT_COUNT);
    }
    QCOMPARE(table.resting(start), WebSlots::RESTING_LIMIT);
    QCOMPARE(table.admit(address(0), start).outcome, Outcome::Admitted); // ended first: left
    QCOMPARE(table.admit(address(39), start).outcome, Outcome::Resting);
}

// Eight new addresses at the same moment, many times over: each gets a slot of its own or
// finds all full, and the count always equals the occupied table.
void TestWebLogic::concurrentAdmissionsNeverShareASlot() {
    WebSlots table;
    FakeClock clock;
    constexpr int THREADS = 8;
    for (int round = 0; round < 300; ++round) {
        std::array<WebSlots::Admission, THREADS> admissions;
        std::atomic<int> ready{0};
        std::vector<std::thread> clients;
        for (int t = 0; t < THREADS; ++t)
            clients.emplace_back([&, t] {
                ++ready;
                while (ready < THREADS)
                    std::this_thread::yield();
                admissions[t] = table.admit(address(t + 1), clock.now());
            });
        for (auto& client : clients)
            client.join();
        std::set<int> taken;
        int admitted = 0;
        for (const auto& admission : admissions) {
            if (admission.outcome == Outcome::Full)
                continue;
            QCOMPARE(admission.outcome, Outcome::Admitted);
            QVERIFY2(taken.insert(admission.slot).second, "two clients in one slot");
            QVERIFY(table.table()[admission.slot].address == admission.address);
            ++admitted;
        }
        QCOMPARE(admitted, WebSlots::SLOT_COUNT);
        QCOMPARE(table.ConnectionCount(), WebSlots::SLOT_COUNT);
        QCOMPARE(int(table.expire(clock.now() + 1h).size()), WebSlots::SLOT_COUNT);
        clock.advance(2h); // past the rests of the places that ran out
    }
}

void TestWebLogic::guards_data() {
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<QByteArray>("origin");
    QTest::addColumn<QByteArray>("fetchSite");
    QTest::addColumn<bool>("https");
    QTest::addColumn<bool>("anotherSite");
    QTest::addColumn<bool>("hostAllowed");
    QTest::addColumn<QByteArray>("referer");
    const QByteArray none;
    QTest::newRow("no headers: a script") << none << none << none << false << false << true << none;
    QTest::newRow("the user's own form")
        << QByteArray("10.1.2.3") << QByteArray("http://10.1.2.3") << QByteArray("same-origin")
        << false << false << true << none;
    QTest::newRow("address bar or bookmark")
        << QByteArray("10.1.2.3:8080") << none << QByteArray("none") << false << false << true
        << none;
    QTest::newRow("another site's picture")
        << QByteArray("10.1.2.3") << none << QByteArray("cross-site") << false << true << true
        << none;
    QTest::newRow("the same site, another origin")
        << QByteArray("10.1.2.3") << QByteArray("http://10.1.2.3") << QByteArray("same-site")
        << false << true << true << none;
    QTest::newRow("Sec-Fetch-Site decides over Origin")
        << QByteArray("10.1.2.3") << QByteArray("http://evil.example") << QByteArray("Same-Origin")
        << false << false << true << none;
    QTest::newRow("an old browser's own form, default port")
        << QByteArray("10.1.2.3:80") << QByteArray("http://10.1.2.3") << none << false << false
        << true << none;
    QTest::newRow("an old browser: another host")
        << QByteArray("10.1.2.3") << QByteArray("http://10.9.9.9") << none << false << true << true
        << none;
    QTest::newRow("another port") << QByteArray("10.1.2.3:8080")
                                  << QByteArray("http://10.1.2.3:8081") << none << false << true
                                  << true << none;
    QTest::newRow("another scheme") << QByteArray("10.1.2.3") << QByteArray("https://10.1.2.3")
                                    << none << false << true << true << none;
    QTest::newRow("over HTTPS, its own")
        << QByteArray("10.1.2.3:443") << QByteArray("HTTPS://10.1.2.3") << none << true << false
        << true << none;
    QTest::newRow("a page without origin")
        << QByteArray("10.1.2.3") << QByteArray("null") << none << false << true << true << none;
    QTest::newRow("localhost in any case, a trailing dot")
        << QByteArray("LocalHost.:8080") << QByteArray("http://localhost.:8080") << none << false
        << false << true << none;
    QTest::newRow("an IPv6 address") << QByteArray("[::1]:8080") << QByteArray("http://[::1]:8080")
                                     << none << false << false << true << none;
    QTest::newRow("a listed name")
        << QByteArray("ops.exchange.test") << none << none << false << false << true << none;
    QTest::newRow("a rebound name")
        << QByteArray("evil.example:8080") << QByteArray("http://evil.example:8080") << none
        << false << false << false << none;
    QTest::newRow("a name that looks like an address")
        << QByteArray("127.0.0.1.evil.example") << none << none << false << false << false << none;
    QTest::newRow("an old browser on its own page, a query right after the port")
        << QByteArray("10.1.2.3") << none << none << false << false << true
        << QByteArray("HTTP://10.1.2.3:80?x=/y");
    QTest::newRow("a Referer that names this server as a user")
        << QByteArray("10.1.2.3") << none << none << false << true << true
        << QByteArray("http://10.1.2.3@evil.example/");
    QTest::newRow("Sec-Fetch-Site decides over Referer")
        << QByteArray("10.1.2.3") << none << QByteArray("none") << false << false << true
        << QByteArray("http://evil.example/");
    QTest::newRow("a name that ends with localhost")
        << QByteArray("evil-localhost") << none << none << false << false << false << none;
    QTest::newRow("a name that ends with a listed one")
        << QByteArray("x-ops.exchange.test:80") << none << none << false << false << false << none;
    QTest::newRow("a listed name inside another")
        << QByteArray("ops.exchange.test.evil") << none << none << false << false << false << none;
    QTest::newRow("a subdomain of a listed name")
        << QByteArray("x.ops.exchange.test") << none << none << false << false << false << none;
}

void TestWebLogic::guards() {
    QFETCH(QByteArray, host);
    QFETCH(QByteArray, origin);
    QFETCH(QByteArray, fetchSite);
    QFETCH(bool, https);
    QFETCH(bool, anotherSite);
    QFETCH(bool, hostAllowed);
    QFETCH(QByteArray, referer);
    QCOMPARE(RequestGuards::fromAnotherSite({host, origin, fetchSite, https, referer}),
             anotherSite);
    qputenv(RequestGuards::HOSTS_VARIABLE, " other.test , OPS.exchange.test");
    const auto names = RequestGuards::ownNames();
    qunsetenv(RequestGuards::HOSTS_VARIABLE);
    QVERIFY(names.contains("localhost") && names.contains("other.test"));
    QCOMPARE(RequestGuards::hostAllowed(host, names), hostAllowed);
}

// Each step is a password sent at a time (ms) and, unless it is left waiting ("-"), checked
// at its turn and found right ("r") or wrong ("w"); the turns are the times of the checks.
void TestWebLogic::passwordChecksAreSpaced_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<int>>("turns");
    QTest::newRow("three wrong are free, the fourth waits 2 s")
        << QStringList{"0 w", "100 w", "200 w", "300 w", "400 w"}
        << QList<int>{0, 100, 200, 2200, 4200};
    QTest::newRow("the right one after three wrong is let in 2 s later, then all is free")
        << QStringList{"0 w", "0 w", "0 w", "500 r", "2100 w", "2200 w"}
        << QList<int>{0, 0, 0, 2000, 2100, 2200};
    QTest::newRow("many at once: one check every 2 s")
        << QStringList{"0 w", "0 w", "0 w", "100 -", "100 -", "100 -", "100 -"}
        << QList<int>{0, 0, 0, 2000, 4000, 6000, 8000};
    QTest::newRow("waiting ones count as tries")
        << QStringList{"0 -", "0 -", "0 -", "0 -"} << QList<int>{0, 0, 0, 2000};
    QTest::newRow("10 minutes without a try: the count is 0 again")
        << QStringList{"0 w", "0 w", "0 w", "600000 w", "600001 w"}
        << QList<int>{0, 0, 0, 600000, 600001};
    QTest::newRow("9 minutes: still counted")
        << QStringList{"0 w", "0 w", "0 w", "540000 w", "540001 w"}
        << QList<int>{0, 0, 0, 540000, 542000};
}

void TestWebLogic::passwordChecksAreSpaced() {
    QFETCH(QStringList, steps);
    QFETCH(QList<int>, turns);
    PasswordThrottle throttle;
    const FakeClock::time_point start{};
    QList<int> taken;
    for (const QString& step : steps) {
        const auto at = start + std::chrono::milliseconds(step.section(' ', 0, 0).toInt());
        const auto turn = throttle.turn("10.0.0.1", at);
        taken.append(
            int(std::chrono::duration_cast<std::chrono::milliseconds>(turn - start).count()));
        if (const QString result = step.section(' ', 1); result != "-")
            throttle.checked("10.0.0.1", result == "r", turn);
        QCOMPARE(throttle.turn("10.0.0.2", at), at); // another address is not slowed
        throttle.checked("10.0.0.2", true, at);
    }
    QCOMPARE(taken, turns);
}

void TestWebLogic::throttleRemembersAtMost256Addresses() {
    PasswordThrottle throttle;
    const FakeClock::time_point start{};
    const auto guesser = [](int n) {
        return "10.0." + QByteArray::number(n / 250) + "." + QByteArray::number(n % 250);
    };
    for (int n = 0; n < 300; ++n)
        for (int i = 0; i < PasswordThrottle::FREE_TRIES; ++i)
            throttle.checked(guesser(n), false, start + std::chrono::seconds(n));
    QCOMPARE(throttle.remembered(), PasswordThrottle::ADDRESSES);
    const auto later = start + std::chrono::seconds(300);
    QCOMPARE(throttle.turn(guesser(0), later), later);   // forgotten first
    QVERIFY(throttle.turn(guesser(299), later) > later); // still slowed
    QCOMPARE(throttle.remembered(), PasswordThrottle::ADDRESSES);
}

void TestWebLogic::simultaneousPasswordsGetThreeFreeTries() {
    constexpr int THREADS = 16;
    PasswordThrottle throttle;
    const FakeClock::time_point now{};
    std::atomic<int> atOnce{0};
    std::vector<std::thread> requests;
    for (int t = 0; t < THREADS; ++t)
        requests.emplace_back([&] {
            if (throttle.turn("10.0.0.1", now) == now)
                ++atOnce;
        });
    for (auto& request : requests)
        request.join();
    QCOMPARE(atOnce.load(), PasswordThrottle::FREE_TRIES);
}

QTEST_GUILESS_MAIN(TestWebLogic)
#include "tst_weblogic.moc"
