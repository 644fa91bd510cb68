#pragma once

#include "Journal.h"
#include "JournalReport.h"
#include "JournalStore.h"
#include "WindowMessages.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// The operator's journal: a report is stamped with the clock's time and queued under a
// lock, and returns at once; the journal's own thread writes what is queued into its file
// (JournalStore). The window thread and the port's reader never wait for the disk. If the
// disk is slow, at most QUEUE_RECORDS reports wait; what comes beyond them is dropped and
// counted, and the count is recorded once writing goes on. A file that cannot be opened or
// written stops the journal: the window thread hears of it once (trouble()), and KORVANT
// goes on without it.
class OperatorJournal final : public QObject, public Journal, private MessageHandler {
    Q_OBJECT
public:
    static constexpr std::size_t QUEUE_RECORDS = 65536;   // reports waiting for the disk at most
    static constexpr std::size_t WRITE_AT_RECORDS = 4096; // so many waiting are written at once
    static constexpr int GATHER_MS = 100; // otherwise reports are gathered this long, then written

    struct Settings {
        QString path;
        JournalClock clock;
        JournalStore::Limits limits;
    };

    explicit OperatorJournal(Settings settings, QObject* parent = nullptr);
    // Writes what is queued and closes the file.
    ~OperatorJournal() override;

    // The clock of the program's computer.
    static std::int64_t systemClock();

    Record commandQueued(CommandSource source, QByteArrayView address,
                         QByteArrayView text) override;
    void commandSent(Record command) override;
    void commandEnded(Record command, CommandEnd end) override;
    void replyLine(Record command, QByteArrayView line) override;
    void commandRefused(Refusal why, CommandSource source, QByteArrayView address,
                        QByteArrayView text) override;
    void webEvent(WebEvent event, QByteArrayView address) override;
    void portEvent(PortEvent event, QByteArrayView device) override;

    // Waits until everything reported before the call is in the file, or the journal has
    // stopped.
    void flush();
    // False once the file could not be opened or written; problem() says why.
    bool isRecording() const;
    QString problem() const;
    const QString& path() const { return m_path; }
    std::int64_t now() const { return m_clock(); }
    // Reports queued and not yet taken by the writer.
    std::size_t waitingReports() const;

signals:
    // On the window thread: the file cannot be kept, or a damaged one was set aside. The
    // text names the file and the reason.
    void trouble(const QString& text);

private:
    void report(JournalReport report);
    void run();
    static std::vector<JournalReport> touchedRoom();
    bool openStore();
    bool writeBatch(const std::vector<JournalReport>& batch, std::uint64_t lost);
    bool pruneWhenDue();
    void stopRecording(const QString& reason);
    void tellSetAside();
    void tell(const QString& text);
    void handleMessage(const PostedMessage& message) override;

    const QString m_path;
    const JournalClock m_clock;
    JournalStore m_store; // the writer thread's alone
    WindowMessageQueue m_messages;
    std::atomic<Record> m_lastCommand{0};

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;    // the writer: something to do
    std::condition_variable m_written; // flush(): a batch is in the file
    std::vector<JournalReport> m_queue;
    std::uint64_t m_lost = 0;     // reports dropped since the last batch
    std::uint64_t m_reported = 0; // reports queued since the start
    std::uint64_t m_done = 0;     // of those, written (or given up)
    bool m_hurry = false;         // write without gathering first
    bool m_stopping = false;
    bool m_recording = true;
    QString m_problem;
    std::int64_t m_nextPrune = 0;

    std::thread m_writer;
};
