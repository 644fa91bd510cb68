#pragma once

#include "journal/JournalReport.h"
#include "journal/Sqlite.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

struct sqlite3_context;
struct sqlite3_value;

// Which records a search asks for.
struct JournalFilter {
    enum class Origins { All, Console, Web, Address, Lines };

    std::int64_t from = 0; // milliseconds since 1970, both ends included
    std::int64_t to = 0;
    Origins origins = Origins::All;
    QString address; // for Origins::Address
    QString text;    // searched in commands and reply lines; empty: no search
};

// One record as the journal's file holds it.
struct JournalRow {
    std::int64_t id = 0;
    std::int64_t time = 0;
    RecordKind kind = RecordKind::Command;
    std::optional<CommandSource> origin;
    QString address;
    QString text;
    std::optional<int> what; // how it ended, why refused, which event
    std::optional<std::int64_t> sent;
    std::optional<std::int64_t> ended;
    std::optional<std::int64_t> stopped; // a command: STOP went out while it was in progress
    bool afterGiveUp = false;            // a command written right after one given up for silence
};

// Reads the journal's file on its own connection (read-only), beside the writer. A reading
// stops within a moment once `stopped` says so, from any thread: SQLite asks it every few
// thousand steps of a statement, and a stopped reading fails.
class JournalQuery {
public:
    struct Found {
        std::vector<JournalRow> rows; // the newest that matched, oldest first
        bool more = false;            // more matched than were asked for
        bool failed = false;          // reading failed or was stopped: problem() says why
    };

    explicit JournalQuery(const QString& path, std::function<bool()> stopped = {});
    JournalQuery(const JournalQuery&) = delete;
    JournalQuery& operator=(const JournalQuery&) = delete;

    bool isOpen() const { return m_db.isOpen(); }
    // Why the file could not be read.
    QString problem() const { return m_db.errorText(); }
    const Sqlite::Connection& connection() const { return m_db; }
    // At most `limit` records, the newest that match. A text is a piece of the command or of
    // one reply line, Latin and Cyrillic letters in either case (TextSearch); the records
    // found for a text are the newest written, shown by time.
    Found find(const JournalFilter& filter, int limit);
    // Texts are found by a scan of the range, without the text index: tests compare.
    void setIndexUsed(bool used) { m_indexUsed = used; }
    // Every web client address that the journal holds, in order.
    QStringList webAddresses() const;
    // A record's lines in arrival order, at most `limit`.
    QStringList lines(std::int64_t record, int limit) const;
    // Hands a record's lines to `take` one by one, in arrival order, until it returns false.
    // False when reading failed or was stopped before.
    bool eachLine(std::int64_t record, const std::function<bool(const QString&)>& take) const;
    std::int64_t lineCount(std::int64_t record) const;

private:
    static int progress(void* query);
    static void holds(sqlite3_context* context, int count, sqlite3_value** values);
    static JournalRow rowOf(const Sqlite::Statement& select);
    Found findAll(const JournalFilter& filter, int limit);
    Found findText(const JournalFilter& filter, int limit);

    Sqlite::Connection m_db;
    std::function<bool()> m_stopped;
    bool m_indexUsed = true;
    QByteArray m_folded; // holds()'s room for a folded text
};
