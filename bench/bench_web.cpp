// The web path against the console path, with the simulated exchange (its own process, on a
// pseudo-terminal) answering at once: the round trip of 200 commands one after another from
// a logged-in browser and from the console, median and 95th percentile; 4 users sending 50
// commands each at the same time, every reply checked against its command; and the
// processor time spent while 4 requests wait for a silent exchange, and the program's
// threads while 4 and while 200 connections wait (the 4 users with 8 commands each, their
// whole share of the queue, and 168 connections that sent half a request head).
// The console path's round trip ends when the reply's last line has reached the console,
// which paints it with the next frame; the web path's includes the HTTP exchange, whose own
// cost the page file round trip shows.
#include "BenchSupport.h"
#include "HttpProbe.h"
#include "Probes.h"
#include "app/Station.h"
#include "app/TForm1.h"
#include "dispatch/Terminal.h"
#include "link/PosixSerialDevice.h"
#include "shared/MessageBoxes.h"
#include "shared/Vars.h"
#include "web/TFormWeb.h"
#include "web/WebService.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace {

constexpr int COMMANDS = 200;
constexpr int USERS = 4;
constexpr int CONNECTIONS = 200;
constexpr int WAIT_MS = 600000; // longer than any step takes

double percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(share * double(values.size())))];
}

// Runs `work` on its own thread while the window thread goes on; returns when it has ended.
void alongside(const std::function<void()>& work) {
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        work();
        finished = true;
    });
    waitUntil([&] { return finished.load(); }, WAIT_MS);
    worker.join();
}

HttpProbe logIn(int port, int user) {
    const HttpProbe probe(port, "127.0.0." + QByteArray::number(user));
    probe.get("/");
    probe.post("Password=bench");
    return probe;
}

void report(const char* path, const std::vector<double>& milliseconds) {
    std::printf("%s: %zu commands, median %.2f ms, 95th percentile %.2f ms\n", path,
                milliseconds.size(), percentile(milliseconds, 0.5), percentile(milliseconds, 0.95));
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 10;

    QProcess simulator;
    if (!Bench::startSimulator(simulator))
        return 1;

    QTemporaryDir folder;
    QDir(folder.path()).mkdir("WEB");
    const QDir pages(QStringLiteral(KORVANT_SOURCE_DIR "/WEB"));
    for (const QString& page : pages.entryList(QDir::Files))
        QFile::copy(pages.filePath(page), folder.filePath("WEB/" + page));
    if (!writeFile(folder.filePath("Password"), "bench\r\n") ||
        !writeFile(folder.filePath("CommandWeb"), "RTM-RRT\r\n"))
        return 1;
    Vars vars;
    MessageBoxes messages;
    Station station(vars, messages, {PosixSerialDevice::create(), folder.path(), {}, {}});
    TForm1 form(station, messages);
    TFormWeb web(station.web(), messages, folder.path(), &form);
    form.setWebWindow(&web);
    form.show();
    if (!form.terminal().OpenComPort(QStringLiteral("Com1"), 1) || !web.service().isListening())
        return 1;
    const int port = web.service().port();

    // The console path: from the queue to the reply's last line reaching the console.
    std::vector<double> console;
    for (int n = 0; n < COMMANDS; ++n) {
        const long long before = form.console().linesReceived();
        QElapsedTimer clock;
        clock.start();
        form.terminal().dispatcher().QueueCommand("RTM-RRT");
        // The simulator answers with four lines.
        waitUntil([&] { return form.console().linesReceived() >= before + 4; }, WAIT_MS);
        console.push_back(clock.nsecsElapsed() / 1e6);
    }
    report("console", console);

    // The web path: from the browser's request to the whole reply page.
    std::vector<double> webTimes;
    int wrong = 0;
    alongside([&] {
        const HttpProbe browser = logIn(port, 1);
        for (int n = 0; n < COMMANDS; ++n) {
            QElapsedTimer clock;
            clock.start();
            const HttpAnswer page = browser.post("Command=RTM-RRT");
            webTimes.push_back(clock.nsecsElapsed() / 1e6);
            wrong += page.body.contains("RTM-RRT<br>") ? 0 : 1;
        }
    });
    report("web", webTimes);
    // The HTTP part alone: a page file, which never waits for the exchange.
    std::vector<double> fileTimes;
    alongside([&] {
        const HttpProbe browser = logIn(port, 1);
        for (int n = 0; n < COMMANDS; ++n) {
            QElapsedTimer clock;
            clock.start();
            browser.get("/Command.html");
            fileTimes.push_back(clock.nsecsElapsed() / 1e6);
        }
    });
    report("page file", fileTimes);
    std::printf("web: the web path adds %.2f ms to the median round trip; %d pages without "
                "their reply\n",
                percentile(webTimes, 0.5) - percentile(console, 0.5), wrong);

    // Four users at once, each reply checked against its own command.
    std::atomic<int> paired{0};
    QElapsedTimer together;
    together.start();
    alongside([&] {
        std::vector<std::thread> users;
        for (int user = 1; user <= USERS; ++user)
            users.emplace_back([&, user] {
                const HttpProbe browser = logIn(port, user);
                for (int n = 0; n < COMMANDS / USERS; ++n) {
                    const QByteArray command =
                        "RTM-RRT:" + QByteArray::number(user) + "-" + QByteArray::number(n);
                    const HttpAnswer page = browser.post("Command=" + command);
                    paired += page.body.contains("</form>" + command + "<br>") ? 1 : 0;
                }
            });
        for (auto& user : users)
            user.join();
    });
    std::printf("4 users: %d of %d replies paired right, %.0f ms in all\n", paired.load(), COMMANDS,
                together.nsecsElapsed() / 1e6);

    // Requests wait for an exchange that does not answer; the browsers are open sockets of
    // this process, so every thread counted is the program's.
    const int perUser = RequestHandler::COMMANDS_PER_ADDRESS;
    simulator.write(QByteArray("silent ") + QByteArray::number(USERS * perUser) + "\n");
    simulator.waitForBytesWritten(1000);
    Bench::sleepInEventLoop(500);
    std::vector<HttpProbe> users;
    for (int user = 1; user <= USERS; ++user)
        users.push_back(logIn(port, user));
    std::vector<int> waiting;
    for (const HttpProbe& user : users)
        waiting.push_back(user.send("POST", "/", "Command=RTM-RRT"));
    waitUntil([&] { return form.terminal().queue().count() == USERS; }, WAIT_MS);
    const double before = Bench::processorSeconds();
    Bench::sleepInEventLoop(idleSeconds * 1000);
    std::printf("waiting: %.4f processor-seconds in %d s while %d requests wait; %d threads\n",
                Bench::processorSeconds() - before, idleSeconds, USERS,
                entriesIn("/proc/self/task"));
    for (int more = USERS; more < USERS * perUser; ++more)
        waiting.push_back(users[std::size_t(more % USERS)].send("POST", "/", "Command=RTM-RRT"));
    for (int n = USERS * perUser; n < CONNECTIONS; ++n) {
        const int socket =
            HttpProbe(port, "127.0.1." + QByteArray::number(n / perUser)).connectFrom();
        ::send(socket, "GET / HTTP/1.1\r\n", 16, MSG_NOSIGNAL);
        waiting.push_back(socket);
    }
    waitUntil(
        [&] {
            return form.terminal().queue().count() == USERS * perUser &&
                   web.service().server().openConnections() == CONNECTIONS;
        },
        WAIT_MS);
    std::printf("waiting: %u connections open, %d commands queued; %d threads\n",
                web.service().server().openConnections(), form.terminal().queue().count(),
                entriesIn("/proc/self/task"));
    web.service().switchOff(); // releases them
    for (const int socket : waiting)
        HttpProbe::receive(socket);

    form.terminal().closePort();
    simulator.write("quit\n");
    simulator.waitForFinished(3000);
    return paired == COMMANDS && wrong == 0 ? 0 : 1;
}
