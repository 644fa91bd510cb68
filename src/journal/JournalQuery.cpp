#include "journal/JournalQuery.h"

#include <sqlite3.h>

#include <algorithm>

namespace {

constexpr int STEPS_BETWEEN_CHECKS = 4000; // SQLite's steps between two looks at `stopped`

QByteArray likePattern(const QString& text) {
    QByteArray escaped = text.toUtf8();
    escaped.replace('\\', "\\\\").replace('%', "\\%").replace('_', "\\_");
    return '%' + escaped + '%';
}

const char* originCondition(JournalFilter::Origins origins) {
    switch (origins) {
    case JournalFilter::Origins::Console: // typed or from a button
        return " AND origin IN (0, 2)";
    case JournalFilter::Origins::Web:
        return " AND origin = 1";
    case JournalFilter::Origins::Address:
        return " AND origin = 1 AND address = ?3";
    case JournalFilter::Origins::Lines:
        return " AND kind = 2";
    case JournalFilter::Origins::All:
        break;
    }
    return "";
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
}

// Not zero: the statement stops with SQLITE_INTERRUPT.
int JournalQuery::progress(void* query) {
    return static_cast<JournalQuery*>(query)->m_stopped() ? 1 : 0;
}

// The records in the time range, newest first through the index on time. A text is looked
// for in the records themselves and in the lines of the records of the range: those lie
// under the range's record numbers, in the order the lines table is kept.
JournalQuery::Found JournalQuery::find(const JournalFilter& filter, int limit) {
    QByteArray sql = "SELECT id, time, kind, origin, address, text, what, sent, ended, stopped, "
                     "after_silence "
                     "FROM records WHERE time BETWEEN ?1 AND ?2";
    sql += originCondition(filter.origins);
    if (!filter.text.isEmpty())
        sql += " AND (text LIKE ?4 ESCAPE '\\' OR id IN (SELECT record FROM lines "
               "WHERE record BETWEEN ?5 AND ?6 AND text LIKE ?4 ESCAPE '\\'))";
    sql += " ORDER BY time DESC, id DESC LIMIT ?7";

    Found result;
    Sqlite::Statement range(m_db, "SELECT min(id), max(id) FROM records "
                                  "WHERE time BETWEEN ?1 AND ?2");
    range.bind(1, filter.from).bind(2, filter.to);
    if (range.step() != SQLITE_ROW) {
        result.failed = true;
        return result;
    }
    const bool found = !range.isNull(0);
    const std::int64_t first = found ? range.integer(0) : 0;
    const std::int64_t last = found ? range.integer(1) : -1;

    Sqlite::Statement select(m_db, sql.constData());
    select.bind(1, filter.from).bind(2, filter.to).bindText(3, filter.address.toUtf8());
    select.bindText(4, likePattern(filter.text)).bind(5, first).bind(6, last).bind(7, limit + 1);
    int code = SQLITE_ROW;
    while ((code = select.step()) == SQLITE_ROW) {
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
        result.rows.push_back(std::move(row));
    }
    result.failed = code != SQLITE_DONE;
    result.more = int(result.rows.size()) > limit;
    if (result.more)
        result.rows.pop_back();
    std::reverse(result.rows.begin(), result.rows.end());
    return result;
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
