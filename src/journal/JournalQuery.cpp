#include "journal/JournalQuery.h"

#include "journal/JournalIndex.h"
#include "journal/TextSearch.h"

#include <sqlite3.h>

#include <algorithm>

namespace {

constexpr int STEPS_BETWEEN_CHECKS = 4000;  // SQLite's steps between two looks at `stopped`
constexpr int RECORDS_BETWEEN_CHECKS = 256; // records looked into between two looks at it

const char* const COLUMNS = "SELECT id, time, kind, origin, address, text, what, sent, ended, "
                            "stopped, after_silence FROM records ";

// The console's and the web's records are many: they are taken in the order of the index on
// time (the unary + keeps SQLite from the index on origin), so that a search stops once it
// has found enough. One web address's records are few: the index on origin finds them.
const char* originCondition(JournalFilter::Origins origins) {
    switch (origins) {
    case JournalFilter::Origins::Console: // typed or from a button
        return " AND +origin IN (0, 2)";
    case JournalFilter::Origins::Web:
        return " AND +origin = 1";
    case JournalFilter::Origins::Address:
        return " AND origin = 1 AND address = ?3";
    case JournalFilter::Origins::Lines:
        return " AND kind = 2";
    case JournalFilter::Origins::All:
        break;
    }
    return "";
}

// The records that some statements name, each newest first, merged: newest first, once each.
class NewestFirst {
public:
    explicit NewestFirst(std::vector<Sqlite::Statement*> sources)
        : m_sources(std::move(sources)), m_heads(m_sources.size()) {
        for (std::size_t i = 0; i < m_sources.size(); ++i)
            advance(i);
    }
    // The next record; false at the end, or when reading failed (failed()).
    bool next(std::int64_t& record) {
        while (!m_failed) {
            const auto newest = std::max_element(m_heads.begin(), m_heads.end());
            if (newest == m_heads.end() || *newest == NONE)
                return false;
            record = *newest;
            advance(std::size_t(newest - m_heads.begin()));
            if (std::exchange(m_previous, record) != record)
                return true;
        }
        return false;
    }
    bool failed() const { return m_failed; }

private:
    static constexpr std::int64_t NONE = -1; // a source at its end: record ids are positive

    void advance(std::size_t i) {
        const int code = m_sources[i]->step();
        m_heads[i] = code == SQLITE_ROW ? m_sources[i]->integer(0) : NONE;
        m_failed = m_failed || (code != SQLITE_ROW && code != SQLITE_DONE);
    }

    std::vector<Sqlite::Statement*> m_sources;
    std::vector<std::int64_t> m_heads;
    std::int64_t m_previous = NONE;
    bool m_failed = false;
};

// The record's text, or one of its lines, holds the folded text given as `needle`.
QByteArray holdsText(const char* needle) {
    return QByteArray("(holds(records.text, ") + needle +
           ") OR EXISTS(SELECT 1 FROM lines WHERE lines.record = records.id AND "
           "holds(lines.text, " +
           needle + ")))";
}

template <class T> std::optional<T> optional(const Sqlite::Statement& row, int column) {
    return row.isNull(column) ? std::nullopt : std::optional<T>(T(row.integer(column)));
}

} // namespace

JournalQuery::JournalQuery(const QString& path, std::function<bool()> stopped)
    : m_stopped(std::move(stopped)) {
    if (m_db.open(path, true) != SQLITE_OK)
        return;
    m_db.exec("PRAGMA cache_size = -32768"); // KiB: a day's lines stay in memory between searches
    if (m_stopped)
        sqlite3_progress_handler(m_db.handle(), STEPS_BETWEEN_CHECKS, &JournalQuery::progress,
                                 this);
    sqlite3_create_function_v2(m_db.handle(), "holds", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, this,
                               &JournalQuery::holds, nullptr, nullptr, nullptr);
}

// holds(text, folded needle) in SQL: TextSearch::holds().
void JournalQuery::holds(sqlite3_context* context, int, sqlite3_value** values) {
    auto* query = static_cast<JournalQuery*>(sqlite3_user_data(context));
    const auto text = [&](int i) {
        return QByteArrayView(reinterpret_cast<const char*>(sqlite3_value_text(values[i])),
                              sqlite3_value_bytes(values[i]));
    };
    sqlite3_result_int(context, TextSearch::holds(text(0), text(1), query->m_folded) ? 1 : 0);
}

// Not zero: the statement stops with SQLITE_INTERRUPT.
int JournalQuery::progress(void* query) {
    return static_cast<JournalQuery*>(query)->m_stopped() ? 1 : 0;
}

JournalQuery::Found JournalQuery::find(const JournalFilter& filter, int limit) {
    Found result;
    if (m_db.exec("BEGIN") != SQLITE_OK) { // one snapshot of the file for every statement
        result.failed = true;
        return result;
    }
    if (filter.text.isEmpty())
        result = findAll(filter, limit);
    else
        result = findText(filter, limit);
    m_db.exec("COMMIT");
    std::reverse(result.rows.begin(), result.rows.end());
    return result;
}

// The records in the time range, newest first through the index on time.
JournalQuery::Found JournalQuery::findAll(const JournalFilter& filter, int limit) {
    QByteArray sql = COLUMNS;
    sql += "WHERE time BETWEEN ?1 AND ?2";
    sql += originCondition(filter.origins);
    sql += " ORDER BY time DESC, id DESC LIMIT ?4";
    Sqlite::Statement select(m_db, sql.constData());
    select.bind(1, filter.from).bind(2, filter.to).bindText(3, filter.address.toUtf8());
    select.bind(4, limit + 1);
    Found result;
    int code = SQLITE_ROW;
    while ((code = select.step()) == SQLITE_ROW)
        result.rows.push_back(rowOf(select));
    result.failed = code != SQLITE_DONE;
    result.more = int(result.rows.size()) > limit;
    if (result.more)
        result.rows.pop_back();
    return result;
}

// The records in the time range that hold the text, the newest written first. The records
// that may hold it come from the text index and from the records it does not list yet (a
// command still answered, the records of a file being indexed), or from a scan of the range
// when the text is shorter than three characters; each is then looked into.
JournalQuery::Found JournalQuery::findText(const JournalFilter& filter, int limit) {
    Found result;
    Sqlite::Statement range(m_db, "SELECT min(id), max(id) FROM records "
                                  "WHERE time BETWEEN ?1 AND ?2");
    range.bind(1, filter.from).bind(2, filter.to);
    if (range.step() != SQLITE_ROW) {
        result.failed = true;
        return result;
    }
    if (range.isNull(0))
        return result;
    const std::int64_t first = range.integer(0);
    const std::int64_t last = range.integer(1);

    const QByteArray needle = TextSearch::folded(filter.text.toUtf8());
    const QByteArray match = m_indexUsed ? JournalIndex::matchQuery(needle) : QByteArray();
    Sqlite::Statement indexed(m_db, "SELECT rowid FROM text_index WHERE text_index MATCH ?1 "
                                    "AND rowid BETWEEN ?2 AND ?3 ORDER BY rowid DESC");
    const QByteArray unlisted = "SELECT id FROM unindexed JOIN records ON id = record WHERE "
                                "record BETWEEN ?1 AND ?2 AND " +
                                holdsText("?3") + " ORDER BY record DESC";
    Sqlite::Statement listed(m_db, unlisted.constData());
    // Newest first in the order of the records' table: a text found often is found in the
    // newest records, and the scan stops there.
    const QByteArray scan = "SELECT id FROM records WHERE id BETWEEN ?1 AND ?2 AND " +
                            holdsText("?3") + " ORDER BY id DESC";
    Sqlite::Statement scanned(m_db, scan.constData());
    std::vector<Sqlite::Statement*> sources;
    if (!match.isEmpty() && indexed.isValid() && listed.isValid()) {
        indexed.bindText(1, match).bind(2, first).bind(3, last);
        listed.bind(1, first).bind(2, last).bindText(3, needle);
        sources = {&indexed, &listed};
    } else {
        scanned.bind(1, first).bind(2, last).bindText(3, needle);
        sources = {&scanned};
    }

    QByteArray sql = COLUMNS;
    sql += "WHERE id = ?5 AND time BETWEEN ?1 AND ?2";
    sql += originCondition(filter.origins);
    sql += " AND " + holdsText("?4");
    Sqlite::Statement check(m_db, sql.constData());
    const QByteArray address = filter.address.toUtf8();
    NewestFirst candidates(sources);
    std::int64_t record = 0;
    for (int looked = 1; int(result.rows.size()) <= limit && candidates.next(record); ++looked) {
        if (looked % RECORDS_BETWEEN_CHECKS == 0 && m_stopped && m_stopped()) {
            result.failed = true;
            break;
        }
        check.bind(1, filter.from).bind(2, filter.to).bindText(3, address).bindText(4, needle);
        const int code = check.bind(5, record).step();
        if (code == SQLITE_ROW)
            result.rows.push_back(rowOf(check));
        check.reset();
        if (code != SQLITE_ROW && code != SQLITE_DONE) {
            result.failed = true;
            break;
        }
    }
    result.failed = result.failed || candidates.failed();
    result.more = int(result.rows.size()) > limit;
    if (result.more)
        result.rows.pop_back();
    // Shown by time, as the records without a text.
    std::stable_sort(result.rows.begin(), result.rows.end(), [](const auto& a, const auto& b) {
        return std::pair(a.time, a.id) > std::pair(b.time, b.id);
    });
    return result;
}

JournalRow JournalQuery::rowOf(const Sqlite::Statement& select) {
    JournalRow row;
    row.id = select.integer(0);
    row.time = select.integer(1);
    row.kind = RecordKind(select.integer(2));
    row.origin = optional<CommandSource>(select, 3);
    row.address = select.text(4);
    row.text = select.text(5);
    row.what = optional<int>(select, 6);
    row.sent = optional<std::int64_t>(select, 7);
    row.ended = optional<std::int64_t>(select, 8);
    row.stopped = optional<std::int64_t>(select, 9);
    row.afterGiveUp = select.integer(10) == 1;
    return row;
}

QStringList JournalQuery::webAddresses() const {
    Sqlite::Statement select(m_db, "SELECT DISTINCT address FROM records "
                                   "WHERE origin = 1 AND address <> '' ORDER BY address");
    QStringList addresses;
    while (select.step() == SQLITE_ROW)
        addresses.append(select.text(0));
    return addresses;
}

QStringList JournalQuery::lines(std::int64_t record, int limit) const {
    QStringList lines;
    if (limit > 0)
        eachLine(record, [&](const QString& line) {
            lines.append(line);
            return lines.size() < limit;
        });
    return lines;
}

bool JournalQuery::eachLine(std::int64_t record,
                            const std::function<bool(const QString&)>& take) const {
    Sqlite::Statement select(m_db, "SELECT text FROM lines WHERE record = ?1 ORDER BY number");
    select.bind(1, record);
    int code = SQLITE_ROW;
    while ((code = select.step()) == SQLITE_ROW)
        if (!take(select.text(0)))
            return true;
    return code == SQLITE_DONE;
}

std::int64_t JournalQuery::lineCount(std::int64_t record) const {
    Sqlite::Statement count(m_db, "SELECT count(*) FROM lines WHERE record = ?1");
    count.bind(1, record);
    return count.step() == SQLITE_ROW ? count.integer(0) : 0;
}
