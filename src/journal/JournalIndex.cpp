#include "journal/JournalIndex.h"

#include "journal/TextSearch.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <sqlite3.h>

#include <algorithm>
#include <vector>

namespace {

constexpr int MERGE_PAGES = 256;       // pages a merge step writes at most
constexpr int COMPLETED_AT_ONCE = 256; // complete records looked up in one go
constexpr int MOST_TRIGRAMS = 16;      // pieces of three characters a search asks for at most

} // namespace

const char* const JournalIndex::SCHEMA = R"(
CREATE VIRTUAL TABLE text_index USING fts5(
  text, tokenize = 'trigram case_sensitive 1', content = '', detail = none, columnsize = 0);
CREATE TABLE unindexed(record INTEGER PRIMARY KEY);
)";

bool JournalIndex::prepare(const Sqlite::Connection& db) {
    m_db = &db;
    m_list = Sqlite::Statement(db, "INSERT OR IGNORE INTO unindexed VALUES(?1)");
    m_unlist = Sqlite::Statement(db, "DELETE FROM unindexed WHERE record = ?1");
    m_isListed = Sqlite::Statement(db, "SELECT 1 FROM unindexed WHERE record = ?1");
    // A command is complete once it has ended; any other record once it is not the open group.
    m_completed = Sqlite::Statement(db, "SELECT record FROM unindexed JOIN records ON id = record "
                                        "WHERE record <> ?1 AND (kind <> 1 OR what IS NOT NULL) "
                                        "ORDER BY record DESC LIMIT ?2");
    m_add = Sqlite::Statement(db, "INSERT INTO text_index(rowid, text) VALUES(?1, ?2)");
    m_delete = Sqlite::Statement(
        db, "INSERT INTO text_index(text_index, rowid, text) VALUES('delete', ?1, ?2)");
    // A negative count merges segments of every level, as an optimize done in steps.
    m_merge = Sqlite::Statement(db, QByteArray("INSERT INTO text_index(text_index, rank) "
                                               "VALUES('merge', -" +
                                               QByteArray::number(MERGE_PAGES) + ")")
                                        .constData());
    m_recordText = Sqlite::Statement(db, "SELECT text FROM records WHERE id = ?1");
    m_recordLines =
        Sqlite::Statement(db, "SELECT text FROM lines WHERE record = ?1 ORDER BY number");
    m_moreToAdd = db.integer("SELECT EXISTS(SELECT 1 FROM unindexed)", 1) != 0;
    m_mergeWanted = false;
    return m_list.isValid() && m_unlist.isValid() && m_isListed.isValid() &&
           m_completed.isValid() && m_add.isValid() && m_delete.isValid() && m_merge.isValid() &&
           m_recordText.isValid() && m_recordLines.isValid();
}

void JournalIndex::clear() {
    m_list = {};
    m_unlist = {};
    m_isListed = {};
    m_completed = {};
    m_add = {};
    m_delete = {};
    m_merge = {};
    m_recordText = {};
    m_recordLines = {};
    m_db = nullptr;
}

bool JournalIndex::list(std::int64_t record) {
    return m_list.bind(1, record).run() == SQLITE_DONE;
}

bool JournalIndex::add(std::int64_t record, QByteArrayView text) {
    TextSearch::fold(text, m_text);
    return insert(record);
}

bool JournalIndex::insert(std::int64_t record) {
    return m_add.bind(1, record).bindText(2, m_text).run() == SQLITE_DONE;
}

bool JournalIndex::reopen(std::int64_t record) {
    const int listed = m_isListed.bind(1, record).step();
    m_isListed.reset();
    if (listed == SQLITE_ROW)
        return true;
    return listed == SQLITE_DONE && readText(record) &&
           m_delete.bind(1, record).bindText(2, m_text).run() == SQLITE_DONE && list(record);
}

bool JournalIndex::addCompleted(std::int64_t openGroup, int most, std::int64_t budgetMs) {
    if (most <= 0)
        return true;
    QElapsedTimer elapsed;
    elapsed.start();
    std::vector<std::int64_t> records;
    int added = 0;
    for (;;) {
        const int wanted = std::min(COMPLETED_AT_ONCE, most - added);
        m_completed.bind(1, openGroup).bind(2, wanted);
        records.clear();
        int code = SQLITE_ROW;
        while ((code = m_completed.step()) == SQLITE_ROW)
            records.push_back(m_completed.integer(0));
        m_completed.reset();
        if (code != SQLITE_DONE)
            return false;
        for (const std::int64_t record : records) {
            bool listed = false;
            if (!unlist(record, listed) || !readText(record) || !insert(record))
                return false;
            ++added;
        }
        m_moreToAdd = int(records.size()) == wanted;
        if (!m_moreToAdd || added >= most || elapsed.elapsed() >= budgetMs)
            return true;
    }
}

bool JournalIndex::remove(std::int64_t record) {
    bool listed = false;
    if (!unlist(record, listed))
        return false;
    if (listed)
        return true;
    m_mergeWanted = true;
    return readText(record) && m_delete.bind(1, record).bindText(2, m_text).run() == SQLITE_DONE;
}

// SQLite counts a change for the command itself, and more when a merge step wrote pages.
bool JournalIndex::merge(std::int64_t budgetMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (m_mergeWanted && elapsed.elapsed() < budgetMs) {
        const std::int64_t before = m_db->totalChanges();
        if (m_merge.run() != SQLITE_DONE)
            return false;
        m_mergeWanted = m_db->totalChanges() - before >= 2;
    }
    return true;
}

bool JournalIndex::unlist(std::int64_t record, bool& wasListed) {
    if (m_unlist.bind(1, record).run() != SQLITE_DONE)
        return false;
    wasListed = m_db->changes() > 0;
    return true;
}

// A record's document: its own text, then each of its lines in order on a line of its own,
// folded (TextSearch::fold()): the index holds the pieces of three characters as a search
// folds them.
bool JournalIndex::readText(std::int64_t record) {
    m_raw.clear();
    int code = m_recordText.bind(1, record).step();
    if (code == SQLITE_ROW)
        m_raw = m_recordText.utf8(0).toByteArray();
    m_recordText.reset();
    if (code != SQLITE_ROW && code != SQLITE_DONE)
        return false;
    m_recordLines.bind(1, record);
    while ((code = m_recordLines.step()) == SQLITE_ROW)
        m_raw.append('\n').append(m_recordLines.utf8(0));
    m_recordLines.reset();
    TextSearch::fold(m_raw, m_text);
    return code == SQLITE_DONE;
}

// Every character of the text lies in one of the pieces asked for: those at 0, 3, 6, ... and
// the last one; of a long text, MOST_TRIGRAMS of them spread over it.
QByteArray JournalIndex::matchQuery(QByteArrayView folded) {
    const QList<uint> characters = QString::fromUtf8(folded).toUcs4();
    const qsizetype pieces = characters.size() - 2;
    if (pieces < 1)
        return {};
    QList<qsizetype> starts;
    for (qsizetype start = 0; start < pieces; start += 3)
        starts.append(start);
    if (starts.last() != pieces - 1)
        starts.append(pieces - 1);
    QByteArray query;
    const qsizetype asked = std::min<qsizetype>(starts.size(), MOST_TRIGRAMS);
    for (qsizetype i = 0; i < asked; ++i) {
        const qsizetype start = starts[asked == 1 ? 0 : i * (starts.size() - 1) / (asked - 1)];
        const QString piece =
            QString::fromUcs4(reinterpret_cast<const char32_t*>(characters.constData() + start), 3);
        if (!query.isEmpty())
            query += " AND ";
        query += '"' + piece.toUtf8().replace('"', "\"\"") + '"';
    }
    return query;
}
