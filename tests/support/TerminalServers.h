#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// Terminal servers that the tests start on loopback, never as a system service.

// A free TCP port on 127.0.0.1 (bound and let go at once); 0 when none can be had.
int freeLoopbackPort();
// Something listens on 127.0.0.1:port, within `timeoutMs`.
bool isListenedOn(int port, int timeoutMs = 5000);

// Debian's ser2net in front of `device` (a path that may be a symbolic link to a
// pseudo-terminal), started with a configuration of its own in the foreground: rawPort()
// serves the line as it is, rfc2217Port() through Telnet with COM-PORT. ser2net opens the
// device afresh for each connection and drops an earlier client for a new one.
class Ser2net {
public:
    explicit Ser2net(const QString& device);
    ~Ser2net();
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    // Both ports listen; errorText() says why not.
    bool isRunning() const { return m_running; }
    QString errorText() const { return m_error; }
    int rawPort() const { return m_rawPort; }
    int rfc2217Port() const { return m_rfc2217Port; }
    QString rawUrl() const;
    QString rfc2217Url() const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_rawPort = 0;
    int m_rfc2217Port = 0;
    bool m_running = false;
    QString m_error;
};

// pyserial's RFC 2217 server (tests/remote/rfc2217_server.py) in front of a loop:// port,
// which sends back what it receives; the test sets its CTS and DSR.
class PyserialServer {
public:
    PyserialServer();
    ~PyserialServer();
    PyserialServer(const PyserialServer&) = delete;
    PyserialServer& operator=(const PyserialServer&) = delete;

    bool isRunning() const { return m_port > 0; }
    QString url() const;
    // Sets CTS or DSR and tells the connected client; true once the server has done it.
    bool setLine(const char* line, bool on);

private:
    bool waitForLine();

    QProcess m_process;
    int m_port = 0;
};
