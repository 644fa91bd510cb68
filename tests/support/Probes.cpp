#include "Probes.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    QTimer deadline; // wakes the event loop when nothing else does
    deadline.setSingleShot(true);
    deadline.start(timeoutMs);
    while (!done()) {
        if (clock.elapsed() >= timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

bool makeCertificate(const QString& certificateFile, const QString& keyFile) {
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                   "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                   "subjectAltName=IP:127.0.0.1", "-keyout", keyFile, "-out", certificateFile});
    return openssl.waitForFinished(30000) && openssl.exitStatus() == QProcess::NormalExit &&
           openssl.exitCode() == 0;
}

int entriesIn(const char* directory) {
    return int(QDir(QString::fromLatin1(directory))
                   .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                   .size());
}

int threadsNamed(const char* name) {
    int count = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name)
            ++count;
    }
    return count;
}

std::chrono::nanoseconds processCpuTime() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

Watchdog::Watchdog(std::chrono::milliseconds limit, const char* step) {
    m_thread = std::thread([this, limit, step] {
        std::unique_lock lock(m_mutex);
        if (!m_done.wait_for(lock, limit, [this] { return m_finished; })) {
            std::fprintf(stderr, "FAIL: %s took longer than %lld ms\n", step,
                         static_cast<long long>(limit.count()));
            std::abort();
        }
    });
}

Watchdog::~Watchdog() {
    {
        std::lock_guard lock(m_mutex);
        m_finished = true;
    }
    m_done.notify_all();
    m_thread.join();
}

PseudoTerminal::PseudoTerminal()
    : m_master(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    char name[128];
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 ||
        ::ptsname_r(m_master, name, sizeof name) != 0) {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
        return;
    }
    m_path = QString::fromLocal8Bit(name);
}

PseudoTerminal::~PseudoTerminal() {
    if (m_master >= 0)
        ::close(m_master);
}

int PseudoTerminal::takenInWhenFull(int timeoutMs) const {
    QElapsedTimer clock;
    clock.start();
    int before = -1;
    while (clock.elapsed() < timeoutMs) {
        int now = 0;
        if (::ioctl(m_master, FIONREAD, &now) != 0)
            return -1;
        if (now > 0 && now == before)
            return now;
        before = now;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
}

bool PseudoTerminal::send(const QByteArray& bytes) const {
    return ::write(m_master, bytes.constData(), std::size_t(bytes.size())) == bytes.size();
}

QByteArray PseudoTerminal::readAvailable() const {
    QByteArray bytes;
    char buffer[65536];
    ssize_t n = 0;
    while ((n = ::read(m_master, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, n);
    return bytes;
}
