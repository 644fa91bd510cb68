#include "Fakes.h"
#include "Probes.h"
#include "SimulatedExchange.h"
#include "app/Station.h"
#include "app/TForm1.h"
#include "dispatch/Terminal.h"
#include "link/PosixSerialDevice.h"
#include "shared/Vars.h"
#include "web/TFormWeb.h"
#include "web/WebService.h"

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>

// A web user's session in a real browser: the program's windows run here, with the
// simulated exchange on COM1 and the project's own page folder, while
// tests/browser/web_pages.py drives headless Chromium against the web server: the whole
// session over HTTP (with another site's page that tries to send commands as the logged-in
// user, and its link that redirects to a command, confirmed before it runs), and a login, a
// command and its reply over HTTPS with a certificate made for the test. KORVANT_SCREENSHOTS names
// a folder for the pictures of the pages (scripts/screenshot).
class TestBrowser : public QObject {
    Q_OBJECT
private slots:
    void webUserSession_data();
    void webUserSession();
};

void TestBrowser::webUserSession_data() {
    QTest::addColumn<bool>("https");
    QTest::addColumn<int>("places");     // slots taken at the end
    QTest::addColumn<int>("redirected"); // times the redirected link's command ran
    QTest::newRow("HTTP, two users") << false << 2 << 1;
    QTest::newRow("HTTPS") << true << 1 << 0;
}

void TestBrowser::webUserSession() {
    QFETCH(bool, https);
    QFETCH(int, places);
    QFETCH(int, redirected);
    for (const char* tool : {"/usr/bin/chromium", "/usr/bin/chromedriver"})
        QVERIFY2(QFile::exists(tool), tool); // installed by scripts/setup

    QTemporaryDir dir;
    QDir working(dir.path());
    QVERIFY(working.mkdir("WEB"));
    const QDir pages(QStringLiteral(KORVANT_SOURCE_DIR "/WEB"));
    for (const QString& page : pages.entryList(QDir::Files))
        QVERIFY(QFile::copy(pages.filePath(page), working.filePath("WEB/" + page)));
    QVERIFY(writeFile(working.filePath("Password"), "secret\r\n"));
    QVERIFY(writeFile(working.filePath("CommandWeb"), "RTM-RRT\r\nSSD-RSP\r\n"));
    HttpSettings settings;
    if (https) {
        settings.certificateFile = working.filePath("certificate.pem");
        settings.keyFile = working.filePath("key.pem");
        QVERIFY(makeCertificate(settings.certificateFile, settings.keyFile));
    }

    sim::SimulatedExchange exchange;
    QVERIFY(exchange.start());
    qputenv("KORVANT_COM1", QByteArray::fromStdString(exchange.linePath()));
    Vars vars;
    RecordingMessages messages;
    Station station(vars, messages, {PosixSerialDevice::create(), dir.path(), settings, {}});
    TForm1 form1(station, messages);
    TFormWeb web(station.web(), messages, dir.path(), &form1);
    form1.setWebWindow(&web);
    QVERIFY(web.service().isListening());
    QVERIFY(form1.terminal().OpenComPort(QStringLiteral("Com1"), 1));

    QStringList arguments{QStringLiteral(KORVANT_SOURCE_DIR "/tests/browser/web_pages.py")};
    if (https)
        arguments << QStringLiteral("--https");
    arguments << QString::number(web.service().port());
    if (const QString shots = qEnvironmentVariable("KORVANT_SCREENSHOTS");
        !shots.isEmpty() && !https)
        arguments << shots;
    QProcess session;
    session.setProcessChannelMode(QProcess::MergedChannels);
    session.start(QStringLiteral("/usr/bin/python3"), arguments);
    QVERIFY(session.waitForStarted());
    // The window thread goes on running while the browser works.
    const bool ended =
        QTest::qWaitFor([&] { return session.state() == QProcess::NotRunning; }, 180000);
    const QByteArray output = session.readAll();
    qInfo().noquote() << output;
    QVERIFY2(ended, "the browser session did not end");
    QCOMPARE(session.exitStatus(), QProcess::NormalExit);
    QCOMPARE(session.exitCode(), 0);
    QVERIFY(messages.shown.isEmpty());
    QVERIFY(form1.Memo1->toPlainText().isEmpty()); // web replies never reach the console
    QVERIFY(exchange.commandsReceived() > 0);
    const QByteArray received = QByteArray::fromStdString(exchange.received());
    QVERIFY2(!received.contains("6666"), received.constData()); // no command of another site's page
    QCOMPARE(received.count("SSD-RSP:5555,REST\r"), redirected); // once, when confirmed
    QCOMPARE(web.service().webSlots().ConnectionCount(), places);
}

QTEST_MAIN(TestBrowser)
#include "tst_browser.moc"
