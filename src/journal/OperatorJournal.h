#pragma once

#include "dispatch/Journal.h"
#include "journal/JournalReport.h"
#include "journal/JournalStore.h"
#include "journal/RefusalSums.h"
#include "shared/WindowMessages.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// The operator's journal: a report is stamped with the clock's time and queued under a
// lock, and returns at once; the journal's own thread writes what is queued into its file
// (JournalStore). The window thread and the port's reader never wait for the disk, and
// while a flood of lines comes in the writer leaves the processor to them: it gathers the
// reports for GATHER_MS before writing them in one go, sooner only when its room is nearly
// full. The reports of a burst (Journal::Burst) wait on the thread that makes them and
// are queued together when it ends. If the disk is slow, at most QUEUE_BYTES of reports
// wait; what comes beyond them is dropped and counted, and the count is recorded once
// writing goes on. Refusals of web requests that took no place are summed (RefusalSums) and
// written when their period ends. While another program holds the file (the sqlite3 shell, a
// backup), the batch in hand waits for it and is tried again, the reports behind it queued
// meanwhile. A file that cannot be opened or written stops the journal: the window thread hears of
// it once (trouble()), and KORVANT goes on without it.
class OperatorJournal final : public QObject, public Journal {
    Q_OBJECT
public:
    // Reports waiting for the disk at most: some 130 000 lines of a flood, 75 000 of the
    // longest lines.
    static constexpr std::size_t QUEUE_BYTES = 8u << 20;
    // A queue this full is written at once, before its gathering time is out.
    static constexpr std::size_t WRITE_AT_BYTES = QUEUE_BYTES / 8 * 7;
    // The first report waiting is written at the latest this long after it came.
    static constexpr int GATHER_MS = 250;
    // A burst's reports wait on its thread until it ends, or until they fill this much.
    static constexpr std::size_t BURST_BYTES = 64u << 10;

    struct Settings {
        QString path;
        JournalClock clock;
        JournalStore::Limits limits;
        JournalClock steady = steadyClock; // runs on at its pace whatever the clock does
    };

    explicit OperatorJournal(Settings settings, QObject* parent = nullptr);
    // finish()
    ~OperatorJournal() override;

    // Writes what is queued, ends the commands left open with the time, and closes the file;
    // no report is taken after it. Once only, on the thread that made the journal.
    void finish();

    // The clock of the program's computer.
    static std::int64_t systemClock();
    // Milliseconds since the computer started, which no setting of its clock changes.
    static std::int64_t steadyClock();

    Record commandQueued(CommandSource source, QByteArrayView address,
                         QByteArrayView text) override;
    void commandSent(Record command, bool afterGiveUp) override;
    void commandEnded(Record command, CommandEnd end) override;
    void replyLine(Record command, QByteArrayView line) override;
    void commandRefused(Refusal why, CommandSource source, QByteArrayView address,
                        QByteArrayView text) override;
    // Summed per address and reason (RefusalSums).
    void requestRefused(Refusal why, QByteArrayView address, QByteArrayView text) override;
    void webEvent(WebEvent event, QByteArrayView address) override;
    void portEvent(PortEvent event, QByteArrayView device) override;
    void stopSent(Record command, QByteArrayView device) override;
    bool beginBurst() override;
    void endBurst() override;

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
    const RefusalSums& refusalSums() const { return m_refusals; }

signals:
    // On the window thread: the file cannot be kept, or a damaged one was set aside. The
    // text names the file and the reason.
    void trouble(const QString& text);

private:
    enum class Write { Done, Held, Failed };

    void report(JournalReport report);
    bool queued(std::size_t taken, std::size_t offered, std::size_t bytesBefore);
    void queueBurst();
    void run();
    bool openStore();
    bool pauseWhileHeld();
    Write writeBatch(const JournalReports& batch, std::size_t& done, JournalStore::Counts& counts);
    void settle(std::size_t reports);
    bool pruneWhenDue();
    bool buildIndex();
    std::int64_t ageTime() const;
    void stopRecording(const QString& reason);
    void tellSetAside();
    void tell(const QString& text);

    const QString m_path;
    const JournalClock m_clock;
    const JournalClock m_steady;
    JournalStore m_store; // the writer thread's alone
    struct Trouble {      // for the window thread: the file cannot be kept, or was set aside
        QString text;
    };
    WindowMessageQueue<Trouble> m_messages;
    RefusalSums m_refusals;
    std::atomic<Record> m_lastCommand{0};
    // The burst under way, on the thread that began it alone.
    std::atomic<bool> m_burstTaken{false};
    std::int64_t m_burstTime = 0;
    JournalReports m_burst{BURST_BYTES};

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;    // the writer: something to do
    std::condition_variable m_written; // flush(): a batch is in the file
    JournalReports m_queue{QUEUE_BYTES};
    std::uint64_t m_lost = 0;     // reports dropped since the last batch
    std::uint64_t m_reported = 0; // reports queued since the start
    std::uint64_t m_done = 0;     // of those, written (or given up)
    bool m_hurry = false;         // write without gathering first
    bool m_stopping = false;
    bool m_recording = true;
    QString m_problem;
    // The writer's: the next daily pruning by the steady clock, and where records' age is
    // counted from.
    std::int64_t m_nextPrune = 0;
    std::int64_t m_ageFrom = 0;       // by the clock, at start-up
    std::int64_t m_ageFromSteady = 0; // by the steady clock, then

    std::thread m_writer;
};
