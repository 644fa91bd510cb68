// exchange-sim: a simulated exchange on a pseudo-terminal, for trying the
// terminal without the real equipment. Prints the line's path first, then
// takes control lines on stdin.

#include "SimulatedExchange.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <string>
#include <string_view>

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

constexpr char kUsage[] =
    "usage: exchange-sim [--link PATH] [--verbose] [--help]\n"
    "\n"
    "Simulates the exchange on a pseudo-terminal. The first line on stdout is\n"
    "the path to open as the serial port.\n"
    "\n"
    "  --link PATH  also make PATH a symlink to that path (removed at exit)\n"
    "  --verbose    log each received command on stderr\n"
    "  --help       show this text\n"
    "\n"
    "Control lines on stdin:\n"
    "  alarm TEXT   send TEXT as an unsolicited line\n"
    "  silent [N]   give no reply to the next N commands (default 1)\n"
    "  flood N [R]  send N numbered lines, as fast as the line takes them or R\n"
    "               lines a second; 0x01 from the terminal stops them\n"
    "  cut [N]      after N whole replies (default 0), break the next one off\n"
    "               before its prompt\n"
    "  hangup       close the line, like pulling the cable\n"
    "  reconnect    plug the line in again on a new pseudo-terminal: its path\n"
    "               is printed and --link points to it\n"
    "  quit         exit (so do SIGINT and SIGTERM; end of stdin does not)\n";

struct Options {
    std::string link;
    bool verbose = false;
    bool help = false;
    bool valid = true;
};

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--link" && i + 1 < argc)
            options.link = argv[++i];
        else if (arg == "--verbose")
            options.verbose = true;
        else if (arg == "--help" || arg == "-h")
            options.help = true;
        else
            options.valid = false;
    }
    return options;
}

// Parses a count of at least `least`; `fallback` when the text is empty, -1
// when invalid.
int parseCount(std::string_view text, int fallback, int least = 1) {
    if (text.empty())
        return fallback;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= least ? value : -1;
}

// Prints the line's path and, with --link, points the link to it.
bool announceLine(const sim::SimulatedExchange& exchange, const std::string& link) {
    const std::string path = exchange.linePath();
    if (!link.empty()) {
        ::unlink(link.c_str());
        if (::symlink(path.c_str(), link.c_str()) != 0) {
            std::perror(("exchange-sim: symlink " + link).c_str());
            return false;
        }
    }
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    return true;
}

// Carries out one control line; false means quit.
bool execute(sim::SimulatedExchange& exchange, std::string_view line, const std::string& link) {
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    const auto space = line.find(' ');
    const std::string_view word = line.substr(0, space);
    const std::string_view rest = space == std::string_view::npos ? "" : line.substr(space + 1);

    if (word == "quit")
        return false;
    if (word == "alarm") {
        exchange.sendUnsolicited(std::string(rest));
    } else if (word == "hangup") {
        exchange.hangUp();
    } else if (word == "reconnect") {
        if (!exchange.reconnect())
            std::fprintf(stderr, "exchange-sim: %s\n", exchange.errorText().c_str());
        else
            announceLine(exchange, link);
    } else if (word == "cut") {
        const int count = parseCount(rest, 0, 0);
        if (count < 0)
            std::fprintf(stderr, "exchange-sim: cut needs a count of 0 or more\n");
        else
            exchange.breakReplyAfter(count);
    } else if (word == "silent") {
        const int count = parseCount(rest, 1);
        if (count <= 0)
            std::fprintf(stderr, "exchange-sim: silent needs a positive count\n");
        else
            exchange.silenceNext(count);
    } else if (word == "flood") {
        const auto space = rest.find(' ');
        const int count = parseCount(rest.substr(0, space), 0);
        const int rate =
            space == std::string_view::npos ? 0 : parseCount(rest.substr(space + 1), -1);
        if (count <= 0 || rate < 0)
            std::fprintf(stderr, "exchange-sim: flood needs a positive count and rate\n");
        else
            exchange.flood(count, rate);
    } else if (!word.empty()) {
        std::fprintf(stderr, "exchange-sim: unknown control line: %.*s\n",
                     static_cast<int>(line.size()), line.data());
    }
    return true;
}

// Reads control lines until "quit" or a signal. End of stdin only stops the
// reading: the simulator is often started in the background with no input.
void serve(sim::SimulatedExchange& exchange, int signalFd, const std::string& link) {
    std::string pending;
    bool stdinOpen = true;
    for (;;) {
        pollfd fds[2] = {
            {.fd = signalFd, .events = POLLIN, .revents = 0},
            {.fd = stdinOpen ? STDIN_FILENO : -1, .events = POLLIN, .revents = 0},
        };
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents != 0)
            return; // SIGINT or SIGTERM
        if (fds[1].revents == 0)
            continue;
        char buffer[1024];
        const ssize_t size = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (size < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (size <= 0) {
            stdinOpen = false;
            pending += '\n'; // a last line without a newline still counts
        } else {
            pending.append(buffer, static_cast<std::size_t>(size));
        }
        for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!execute(exchange, line, link))
                return;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    if (options.help || !options.valid) {
        std::fputs(kUsage, options.help ? stdout : stderr);
        return options.help ? 0 : 2;
    }

    // Block the quit signals before any thread starts, so every thread
    // inherits the mask and they are only ever taken through the signalfd.
    sigset_t quitSignals;
    sigemptyset(&quitSignals);
    sigaddset(&quitSignals, SIGINT);
    sigaddset(&quitSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &quitSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const int signalFd = signalfd(-1, &quitSignals, SFD_CLOEXEC);
    if (signalFd < 0) {
        std::perror("exchange-sim: signalfd");
        return 1;
    }

    sim::SimulatedExchange exchange;
    if (options.verbose) {
        exchange.setCommandObserver([](const std::string& command) {
            std::fprintf(stderr, "exchange-sim: command: %s\n", command.c_str());
        });
    }
    if (!exchange.start()) {
        std::fprintf(stderr, "exchange-sim: %s\n", exchange.errorText().c_str());
        return 1;
    }
    // The link is in place before the path is printed, so a script that
    // waits for the first line can use either.
    if (!announceLine(exchange, options.link))
        return 1;
    serve(exchange, signalFd, options.link);
    if (!options.link.empty())
        ::unlink(options.link.c_str());
    ::close(signalFd);
    return 0;
}
