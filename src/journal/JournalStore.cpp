#include "journal/JournalStore.h"

#include "shared/Cp1251.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>

#include <sqlite3.h>

#include <algorithm>
#include <limits>

namespace {

constexpr std::int64_t WAL_KEPT_BYTES = 16LL << 20; // the WAL file is cut back to this
constexpr int PRUNE_STEP_RECORDS = 500;             // records deleted in one transaction
constexpr std::int64_t PRUNE_TO_PERCENT = 90;       // a file over its size is cut to this

const char* const SCHEMA = R"(
CREATE TABLE records(
  id INTEGER PRIMARY KEY,
  time INTEGER NOT NULL,
  kind INTEGER NOT NULL,
  origin INTEGER,
  address TEXT NOT NULL DEFAULT '',
  text TEXT NOT NULL DEFAULT '',
  what INTEGER,
  sent INTEGER,
  ended INTEGER,
  stopped INTEGER,
  after_silence INTEGER);
CREATE INDEX records_time ON records(time);
CREATE INDEX records_origin ON records(origin, address, time);
CREATE INDEX records_unfinished ON records(id) WHERE kind = 1 AND what IS NULL;
CREATE TABLE lines(
  record INTEGER NOT NULL,
  number INTEGER NOT NULL,
  time INTEGER NOT NULL,
  text TEXT NOT NULL,
  PRIMARY KEY(record, number)) WITHOUT ROWID;
)";

// Most lines are ASCII, which is the same in both: they are taken as they are.
QByteArray utf8(QByteArrayView cp1251) {
    if (std::all_of(cp1251.begin(), cp1251.end(), [](char c) { return uchar(c) < 0x80; }))
        return QByteArray::fromRawData(cp1251.data(), cp1251.size());
    return Cp1251::toUnicode(cp1251).toUtf8();
}

} // namespace

JournalStore::JournalStore(QString path, Limits limits)
    : m_path(std::move(path)), m_limits(limits) {}

// A transaction that fails is rolled back whole: a group of lines begun in it is gone, and
// the lines that follow begin a new one.
bool JournalStore::fail(const QString& what) {
    m_damaged = m_damaged || Sqlite::isDamage(m_db.errorCode());
    m_busy = what.isEmpty() && Sqlite::isBusy(m_db.errorCode());
    m_problem = what.isEmpty() ? m_db.errorText() : what;
    if (m_db.isOpen() && !sqlite3_get_autocommit(m_db.handle())) {
        m_db.exec("ROLLBACK");
        m_group = 0;
        m_index.rolledBack();
    }
    return false;
}

bool JournalStore::open(std::int64_t now) {
    if (prepare())
        return true;
    if (!m_damaged)
        return false;
    return setAside(now) && prepare();
}

bool JournalStore::replaceDamaged(std::int64_t now) {
    return setAside(now) && prepare();
}

bool JournalStore::prepare() {
    closeFile();
    m_problem.clear();
    m_damaged = false;
    m_busy = false;
    if (m_db.open(m_path, false) != SQLITE_OK)
        return fail({});
    sqlite3_busy_timeout(m_db.handle(), m_limits.busyWaitMs);
    // The version first: a later version's file is left exactly as it is.
    const std::int64_t version = m_db.integer("PRAGMA user_version");
    if (version < 0)
        return fail({});
    if (version > SCHEMA_VERSION)
        return fail(
            QStringLiteral("журнал записан более новой версией KORVANT (схема %1)").arg(version));
    if (version == 0 && !isEmpty())
        return false;
    if (m_db.exec("PRAGMA journal_mode = WAL") != SQLITE_OK)
        return fail({});
    if (version == 0 && !createSchema())
        return false;
    if (version > 0 && !upgrade(version))
        return false;
    m_db.exec("PRAGMA synchronous = NORMAL"); // WAL: a crash of the program loses nothing committed
    m_db.exec(QByteArray("PRAGMA journal_size_limit = " + QByteArray::number(WAL_KEPT_BYTES))
                  .constData());
    if (m_limits.maxPages > 0)
        m_db.exec(QByteArray("PRAGMA max_page_count = " + QByteArray::number(m_limits.maxPages))
                      .constData());
    m_insertRecord = Sqlite::Statement(m_db, "INSERT INTO records(time, kind, origin, address, "
                                             "text, what) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    m_insertLine = Sqlite::Statement(
        m_db, "INSERT INTO lines(record, number, time, text) VALUES(?1, ?2, ?3, ?4)");
    m_setSent =
        Sqlite::Statement(m_db, "UPDATE records SET sent = ?2, after_silence = ?3 WHERE id = ?1");
    m_setStopped = Sqlite::Statement(m_db, "UPDATE records SET stopped = ?2 WHERE id = ?1");
    m_setEnd = Sqlite::Statement(
        m_db, "UPDATE records SET what = ?2, ended = ?3 WHERE id = ?1 AND what IS NULL");
    m_setLastTime = Sqlite::Statement(m_db, "UPDATE records SET ended = ?2 WHERE id = ?1");
    if (!m_insertRecord.isValid() || !m_insertLine.isValid() || !m_setSent.isValid() ||
        !m_setStopped.isValid() || !m_setEnd.isValid() || !m_setLastTime.isValid() ||
        !m_index.prepare(m_db))
        return fail({});
    m_commandRows.fill({});
    m_group = 0;
    m_lineNumber = 0;
    return endUnfinished(0, false);
}

// A file without a version is new, unless it holds tables: then it is not a journal, and
// it is left as it is.
bool JournalStore::isEmpty() {
    const std::int64_t tables = m_db.integer("SELECT count(*) FROM sqlite_master");
    if (tables < 0)
        return fail({});
    if (tables > 0) {
        m_damaged = true;
        return fail(QStringLiteral("это не файл журнала"));
    }
    return true;
}

bool JournalStore::createSchema() {
    if (!begin() || m_db.exec(SCHEMA) != SQLITE_OK ||
        m_db.exec(JournalIndex::SCHEMA) != SQLITE_OK || !setVersion())
        return fail({});
    return commit();
}

// An older file is brought to this version in place, in one transaction:
// - version 1 kept every console command's origin as 0, typed or built by a button; version
//   2 keeps a button's as 2. Only development builds wrote version 1: its console commands
//   read as typed.
// - version 3 adds to a command when STOP went out during it and whether it went out right
//   after a give-up; the records of older files have neither. It also adds the text index,
//   where every record of the file is listed as waiting for its text to be added: the writer
//   adds them in slices (buildIndex()), and searches look into them meanwhile as they are.
//   Development builds wrote version 3 without the index: those files get it the same way.
bool JournalStore::upgrade(std::int64_t version) {
    const bool indexed = hasTable("text_index");
    if (version == SCHEMA_VERSION && indexed)
        return true;
    if (!begin())
        return false;
    if (version < 3 &&
        m_db.exec("ALTER TABLE records ADD COLUMN stopped INTEGER;"
                  "ALTER TABLE records ADD COLUMN after_silence INTEGER") != SQLITE_OK)
        return fail({});
    if (!indexed && (m_db.exec(JournalIndex::SCHEMA) != SQLITE_OK ||
                     m_db.exec("INSERT INTO unindexed SELECT id FROM records") != SQLITE_OK))
        return fail({});
    if (!setVersion())
        return fail({});
    return commit();
}

bool JournalStore::hasTable(const char* name) const {
    Sqlite::Statement table(m_db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1");
    return table.bindText(1, name).step() == SQLITE_ROW;
}

bool JournalStore::setVersion() {
    const QByteArray pragma = "PRAGMA user_version = " + QByteArray::number(SCHEMA_VERSION);
    return m_db.exec(pragma.constData()) == SQLITE_OK;
}

// Renames the file aside, with its WAL and index files, under the day's date; a name that
// is taken gets a number.
bool JournalStore::setAside(std::int64_t now) {
    closeFile();
    const QString base = m_path + QStringLiteral(".damaged-") +
                         QDateTime::fromMSecsSinceEpoch(now).toString(QStringLiteral("yyyy-MM-dd"));
    QString aside = base;
    for (int n = 2; QFile::exists(aside) || QFile::exists(aside + QStringLiteral("-wal")); ++n)
        aside = base + QLatin1Char('-') + QString::number(n);
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        if (QFile::exists(m_path + suffix) && !QFile::rename(m_path + suffix, aside + suffix)) {
            m_damaged = false;
            m_problem = QStringLiteral("файл повреждён, и его не удалось переименовать в %1")
                            .arg(aside + suffix);
            return false;
        }
    }
    m_renamedAside = aside;
    return true;
}

bool JournalStore::begin() {
    return m_db.exec("BEGIN IMMEDIATE") == SQLITE_OK || fail({});
}

bool JournalStore::commit() {
    return m_db.exec("COMMIT") == SQLITE_OK || fail({});
}

bool JournalStore::write(const JournalReports& reports, std::size_t& done, Counts& counts,
                         std::int64_t now) {
    QElapsedTimer transaction;
    transaction.start();
    if (!begin() || !recordCounts(counts, now))
        return false;
    std::size_t at = 0;
    for (const JournalReport report : reports) {
        if (at++ < done)
            continue; // in the file since a write that another program's lock stopped
        if (!apply(report))
            return fail({});
        if (transaction.elapsed() >= TRANSACTION_MS) {
            if (!commit())
                return false;
            counts = {};
            done = at;
            if (!begin())
                return false;
            transaction.restart();
        }
    }
    if (m_group && m_setLastTime.bind(1, m_group).bind(2, m_groupLast).run() != SQLITE_DONE)
        return fail({});
    if (!indexCompleted() || !commit())
        return false;
    counts = {};
    done = at;
    return true;
}

// The records that the transaction completed go into the index with them, as far as one
// transaction's time allows; buildIndex() adds the rest.
bool JournalStore::indexCompleted() {
    return m_index.addCompleted(m_group, m_limits.indexRecords, TRANSACTION_MS) || fail({});
}

bool JournalStore::buildIndex() {
    QElapsedTimer slice;
    slice.start();
    if (!begin() || !indexCompleted())
        return false;
    if (!m_index.merge(TRANSACTION_MS - slice.elapsed()))
        return fail({});
    return commit();
}

bool JournalStore::apply(const JournalReport& report) {
    using Kind = JournalReport::Kind;
    if (report.kind == Kind::Line && report.command == 0)
        return lineWithoutCommand(report);
    if (!closeGroup())
        return false;
    CommandRow* const command = rowOf(report.command); // none when its report was lost
    const std::int64_t row = command ? command->row : 0;
    switch (report.kind) {
    case Kind::Queued:
        if (!insertRecord(RecordKind::Command, report))
            return false;
        m_commandRows[report.command % m_commandRows.size()] = {report.command, m_db.lastRow()};
        return true;
    case Kind::Sent:
        if (row == 0)
            return true;
        m_setSent.bind(1, row).bind(2, report.time);
        if (report.what) // unbound: NULL
            m_setSent.bind(3, 1);
        return m_setSent.run() == SQLITE_DONE;
    case Kind::Stop:
        if (row != 0 && m_setStopped.bind(1, row).bind(2, report.time).run() != SQLITE_DONE)
            return false;
        return insertRecord(RecordKind::Port, report);
    case Kind::Ended:
        if (row == 0)
            return true;
        command->ended = true;
        return m_setEnd.bind(1, row).bind(2, report.what).bind(3, report.time).run() == SQLITE_DONE;
    case Kind::Line:
        return row == 0 || ((!command->ended || m_index.reopen(row)) && insertLine(row, report));
    case Kind::Refused:
        return insertRecord(RecordKind::Refusal, report);
    case Kind::Web:
        return insertRecord(RecordKind::Web, report);
    case Kind::Port:
        return insertRecord(RecordKind::Port, report);
    }
    return true;
}

JournalStore::CommandRow* JournalStore::rowOf(Journal::Record command) {
    CommandRow& slot = m_commandRows[command % m_commandRows.size()];
    return command != 0 && slot.command == command ? &slot : nullptr;
}

bool JournalStore::insertRecord(RecordKind kind, const JournalReport& report) {
    const bool refusal = kind == RecordKind::Refusal || kind == RecordKind::Refusals;
    const bool hasOrigin = kind == RecordKind::Command || refusal || kind == RecordKind::Web;
    const bool hasWhat = refusal || kind == RecordKind::Web || kind == RecordKind::Port;
    m_insertRecord.bind(1, report.time).bind(2, int(kind));
    if (hasOrigin)
        m_insertRecord.bind(3, int(report.source));
    const QByteArray text = utf8(report.text);
    m_insertRecord.bindText(4, report.address).bindText(5, text);
    if (hasWhat)
        m_insertRecord.bind(6, report.what);
    if (m_insertRecord.run() != SQLITE_DONE)
        return false;
    // A command or a group of lines gets its lines after it; any other record is complete.
    const std::int64_t row = m_db.lastRow();
    return kind == RecordKind::Command || kind == RecordKind::Lines ? m_index.list(row)
                                                                    : m_index.add(row, text);
}

bool JournalStore::insertLine(std::int64_t record, const JournalReport& report) {
    m_insertLine.bind(1, record).bind(2, ++m_lineNumber).bind(3, report.time);
    return m_insertLine.bindText(4, utf8(report.text)).run() == SQLITE_DONE;
}

// A line without command joins the open group when it follows the group's last line
// within LINE_GROUP_GAP_MS in the same minute; otherwise it begins a group of its own.
bool JournalStore::lineWithoutCommand(const JournalReport& report) {
    const std::int64_t gap = report.time - m_groupLast;
    const bool sameMinute = report.time / LINE_GROUP_SPAN_MS == m_groupLast / LINE_GROUP_SPAN_MS;
    if (!m_group || gap < 0 || gap > LINE_GROUP_GAP_MS || !sameMinute) {
        if (!closeGroup() || !insertRecord(RecordKind::Lines, report))
            return false;
        m_group = m_db.lastRow();
    }
    m_groupLast = report.time;
    return insertLine(m_group, report);
}

bool JournalStore::closeGroup() {
    if (!m_group)
        return true;
    const std::int64_t group = std::exchange(m_group, 0);
    return m_setLastTime.bind(1, group).bind(2, m_groupLast).run() == SQLITE_DONE;
}

bool JournalStore::recordCounts(const Counts& counts, std::int64_t now) {
    if (counts.empty())
        return true;
    if (!closeGroup())
        return fail({});
    if (counts.lost > 0) {
        const QByteArray count = QByteArray::number(qulonglong(counts.lost));
        JournalReport report;
        report.time = now;
        report.text = count;
        if (!insertRecord(RecordKind::Lost, report))
            return fail({});
    }
    for (const RefusalSums::Sum& sum : counts.refusals) {
        const QByteArray count = QByteArray::number(qulonglong(sum.count));
        const JournalReport report{JournalReport::Kind::Refused,
                                   std::uint8_t(sum.why),
                                   CommandSource::Web,
                                   sum.first,
                                   0,
                                   count,
                                   sum.address};
        if (!insertRecord(RecordKind::Refusals, report) ||
            m_setLastTime.bind(1, m_db.lastRow()).bind(2, sum.last).run() != SQLITE_DONE)
            return fail({});
    }
    return true;
}

bool JournalStore::endUnfinished(std::int64_t now, bool known) {
    Sqlite::Statement end(m_db, "UPDATE records SET what = ?1, ended = ?2 "
                                "WHERE kind = 1 AND what IS NULL");
    end.bind(1, int(CommandEnd::ProgramEnded));
    if (known)
        end.bind(2, now);
    return end.run() == SQLITE_DONE || fail({});
}

std::int64_t JournalStore::newestTime(std::int64_t none) const {
    return m_db.integer("SELECT max(time) FROM records", none);
}

// The records written before the first young one (stamped within the time kept before
// `now`, and not after it) are old, but for those stamped after `now`: a record stamped
// while the clock was behind stays as long as those written before it, and one stamped
// ahead stays until `now` has passed it by the time kept.
bool JournalStore::prune(std::int64_t now) {
    m_problem.clear(); // a lock that held up an earlier write has gone
    std::int64_t firstYoung = std::numeric_limits<std::int64_t>::max();
    {
        Sqlite::Statement young(m_db, "SELECT min(id) FROM records WHERE time BETWEEN ?1 AND ?2");
        if (young.bind(1, now - m_limits.keepMs).bind(2, now).step() != SQLITE_ROW)
            return fail({});
        if (!young.isNull(0))
            firstYoung = young.integer(0);
    }
    Sqlite::Statement old(m_db, "SELECT id FROM records WHERE id < ?1 AND time <= ?2 "
                                "ORDER BY id LIMIT ?3");
    do
        old.bind(1, firstYoung).bind(2, now).bind(3, PRUNE_STEP_RECORDS);
    while (deleteRecords(old, 0));
    if (!m_problem.isEmpty() || !tooBig())
        return m_problem.isEmpty();
    m_group = 0; // the newest records may go too: a line that follows begins a new group
    Sqlite::Statement oldest(m_db, "SELECT id FROM records ORDER BY id LIMIT ?1");
    const std::int64_t target = m_limits.maxBytes * PRUNE_TO_PERCENT / 100;
    do
        oldest.bind(1, PRUNE_STEP_RECORDS);
    while (deleteRecords(oldest, target) && usedBytes() > target);
    return m_problem.isEmpty();
}

// Deletes the records that `select` names, with their lines and text, in one transaction, and stops
// early once the file holds no more than `enough` bytes (0: never). False when there were
// none (or on failure, which sets problem()).
bool JournalStore::deleteRecords(Sqlite::Statement& select, std::int64_t enough) {
    std::vector<std::int64_t> ids;
    while (select.step() == SQLITE_ROW)
        ids.push_back(select.integer(0));
    select.reset();
    if (ids.empty() || !begin())
        return false;
    Sqlite::Statement lines(m_db, "DELETE FROM lines WHERE record = ?1");
    Sqlite::Statement records(m_db, "DELETE FROM records WHERE id = ?1");
    for (const std::int64_t id : ids) {
        if (!m_index.remove(id) || lines.bind(1, id).run() != SQLITE_DONE ||
            records.bind(1, id).run() != SQLITE_DONE)
            return fail({});
        if (enough > 0 && usedBytes() <= enough)
            break;
    }
    return commit();
}

std::int64_t JournalStore::usedBytes() const {
    return (m_db.integer("PRAGMA page_count", 0) - m_db.integer("PRAGMA freelist_count", 0)) *
           m_db.integer("PRAGMA page_size", 0);
}

bool JournalStore::tooBig() const {
    return usedBytes() > m_limits.maxBytes;
}

void JournalStore::close(std::int64_t now) {
    if (!m_db.isOpen())
        return;
    if (begin() && closeGroup() && endUnfinished(now, true) && indexCompleted())
        commit();
    closeFile();
}

// The statements first: a connection closes only once none is left.
void JournalStore::closeFile() {
    m_insertRecord = {};
    m_insertLine = {};
    m_setSent = {};
    m_setStopped = {};
    m_setEnd = {};
    m_setLastTime = {};
    m_index.clear();
    m_db.close();
}
