#pragma once

#include "journal/JournalIndex.h"
#include "journal/JournalReport.h"
#include "journal/RefusalSums.h"
#include "journal/Sqlite.h"

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

// The journal's file, on the writer thread alone. One SQLite database in WAL mode:
//   records  one row per command, group of lines without command, refusal or event:
//            its time, kind, origin (a CommandSource: typed, web, a button), address, text
//            (command, first line, device), what (how it ended, why refused, which event),
//            when it was sent and when it ended; for a command also when STOP went out
//            while it was in progress, and whether it went out right after a command given
//            up for silence (whose late reply may then have come as its own)
//   lines    every reply line under its record, numbered in arrival order, with its time
//   text_index, unindexed  the text index of each record's text and lines (JournalIndex)
// A record of summed refusals (RecordKind::Refusals) holds the time of the first refusal
// summed, and in "ended" the last one's. Times are milliseconds since 1970 (UTC). The
// schema's version is PRAGMA user_version.
class JournalStore {
public:
    static constexpr int SCHEMA_VERSION = 3;
    static constexpr std::int64_t DAY_MS = 24LL * 3600 * 1000;
    // Lines without command that follow each other this closely form one record, within one
    // minute of the clock: a record's time then bounds its lines, and a search for a time
    // range finds every line in it.
    static constexpr std::int64_t LINE_GROUP_GAP_MS = 1000;
    static constexpr std::int64_t LINE_GROUP_SPAN_MS = 60000;
    static constexpr std::int64_t TRANSACTION_MS =
        250; // a transaction is committed after at most this

    struct Limits {
        std::int64_t keepMs = 90 * DAY_MS;            // records older than this are pruned
        std::int64_t maxBytes = 1024LL * 1024 * 1024; // and the oldest beyond this size
        int maxPages = 0;                             // SQLite's own page limit (0 = none)
        int busyWaitMs = 1000;   // one try's wait for a file that another program holds
        int indexRecords = 5000; // records whose text one transaction adds to the index at most
    };
    // What the journal counted instead of recording it, for the file.
    struct Counts {
        std::uint64_t lost = 0; // reports that could not be queued
        std::vector<RefusalSums::Sum> refusals;
        bool empty() const { return lost == 0 && refusals.empty(); }
    };

    JournalStore(QString path, Limits limits);

    // Opens the file, or begins it. A file that is damaged or not a journal is renamed
    // aside first (renamedAside() names it) and a new one is begun; commands that an
    // earlier run left without an end are ended with ProgramEnded. `now` dates a name
    // set aside. False when the journal cannot be kept; problem() says why.
    bool open(std::int64_t now);
    // Writes the reports in order from the `done`th on, in transactions of at most
    // TRANSACTION_MS; the counts are recorded first and then cleared. `done` counts the
    // reports in the file, also when the write fails: a write that another program's lock
    // stopped (busy()) goes on from there once the lock has gone. False on failure
    // (problem()); damaged() tells whether the file is found damaged.
    bool write(const JournalReports& reports, std::size_t& done, Counts& counts, std::int64_t now);
    // Drops the records older than the time kept by `now` and, while the file holds more
    // than its size, the oldest ones.
    bool prune(std::int64_t now);
    // One slice of the text index's work, in a transaction of its own: the text of complete
    // records that wait for it (after an upgrade, every record of the file, newest first),
    // then the merging of the index after a pruning; at most TRANSACTION_MS.
    bool buildIndex();
    // The text index has work left for buildIndex().
    bool indexWanted() const { return m_index.hasWork(); }
    // The time of the newest record; `none` when there is none.
    std::int64_t newestTime(std::int64_t none) const;
    bool tooBig() const;
    // Ends the commands left without an end and closes the file.
    void close(std::int64_t now);
    // After a failure that found the file damaged: sets it aside and begins a new one.
    bool replaceDamaged(std::int64_t now);

    const QString& path() const { return m_path; }
    const QString& problem() const { return m_problem; }
    bool damaged() const { return m_damaged; }
    // The last failure was another program holding the file: it passes, and the same work
    // can be tried again.
    bool busy() const { return m_busy; }
    const QString& renamedAside() const { return m_renamedAside; }

private:
    bool fail(const QString& what);
    bool prepare();
    void closeFile();
    bool isEmpty();
    bool createSchema();
    bool setVersion();
    bool upgrade(std::int64_t version);
    bool hasTable(const char* name) const;
    bool setAside(std::int64_t now);
    bool begin();
    bool commit();
    bool indexCompleted();
    bool apply(const JournalReport& report);
    bool insertRecord(RecordKind kind, const JournalReport& report);
    bool insertLine(std::int64_t record, const JournalReport& report);
    bool lineWithoutCommand(const JournalReport& report);
    bool closeGroup();
    bool recordCounts(const Counts& counts, std::int64_t now);
    bool endUnfinished(std::int64_t now, bool known);
    bool deleteRecords(Sqlite::Statement& select, std::int64_t enough);
    std::int64_t usedBytes() const;
    struct CommandRow;
    CommandRow* rowOf(Journal::Record command);

    QString m_path;
    Limits m_limits;
    Sqlite::Connection m_db;
    QString m_problem;
    QString m_renamedAside;
    bool m_damaged = false;
    bool m_busy = false;

    Sqlite::Statement m_insertRecord;
    Sqlite::Statement m_insertLine;
    Sqlite::Statement m_setSent;
    Sqlite::Statement m_setStopped;
    Sqlite::Statement m_setEnd;
    Sqlite::Statement m_setLastTime;
    JournalIndex m_index;

    // A command is reported about only while it is queued or at the head of the queue, and
    // the queue holds at most 255: the newest commands' rows are enough to find it.
    struct CommandRow {
        Journal::Record command = 0;
        std::int64_t row = 0;
        bool ended = false; // its text may be in the index
    };
    std::array<CommandRow, 1024> m_commandRows{};
    std::int64_t m_lineNumber = 0; // numbers this run's lines within their records
    std::int64_t m_group = 0;      // the open group of lines without command, if any
    std::int64_t m_groupLast = 0;  // the time of its last line
};
