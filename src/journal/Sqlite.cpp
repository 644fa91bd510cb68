#include "journal/Sqlite.h"

#include <QFile>

#include <cstring>
#include <sqlite3.h>
#include <utility>

namespace Sqlite {

bool isDamage(int code) {
    const int primary = code & 0xff;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

bool isBusy(int code) {
    return (code & 0xff) == SQLITE_BUSY;
}

Connection::~Connection() {
    close();
}

int Connection::open(const QString& path, bool readOnly) {
    close();
    const int flags = readOnly ? SQLITE_OPEN_READONLY
                               : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    const int code = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, flags, nullptr);
    if (code == SQLITE_OK) {
        sqlite3_extended_result_codes(m_db, 1);
        m_openFailure.clear();
        return code;
    }
    m_openFailure = errorText();
    close();
    return code;
}

void Connection::close() {
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
}

int Connection::exec(const char* sql) {
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
}

std::int64_t Connection::integer(const char* sql, std::int64_t fallback) const {
    Statement statement(*this, sql);
    return statement.step() == SQLITE_ROW && !statement.isNull(0) ? statement.integer(0) : fallback;
}

QString Connection::errorText() const {
    if (!m_db)
        return m_openFailure;
    QString text = QString::fromUtf8(sqlite3_errmsg(m_db));
    if (const int error = sqlite3_system_errno(m_db); error != 0)
        text += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(error)));
    return text;
}

int Connection::errorCode() const {
    return m_db ? sqlite3_extended_errcode(m_db) : SQLITE_CANTOPEN;
}

std::int64_t Connection::lastRow() const {
    return sqlite3_last_insert_rowid(m_db);
}

std::int64_t Connection::changes() const {
    return sqlite3_changes64(m_db);
}

std::int64_t Connection::totalChanges() const {
    return sqlite3_total_changes64(m_db);
}

Statement::Statement(const Connection& connection, const char* sql) {
    if (connection.handle())
        sqlite3_prepare_v2(connection.handle(), sql, -1, &m_statement, nullptr);
}

Statement::~Statement() {
    sqlite3_finalize(m_statement);
}

Statement::Statement(Statement&& other) noexcept
    : m_statement(std::exchange(other.m_statement, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
    std::swap(m_statement, other.m_statement);
    return *this;
}

Statement& Statement::bind(int index, std::int64_t value) {
    sqlite3_bind_int64(m_statement, index, value);
    return *this;
}

// An empty view may have no bytes at all: it is bound as the empty text, never as NULL.
Statement& Statement::bindText(int index, QByteArrayView utf8) {
    sqlite3_bind_text(m_statement, index, utf8.isNull() ? "" : utf8.data(), int(utf8.size()),
                      SQLITE_TRANSIENT);
    return *this;
}

int Statement::step() {
    return m_statement ? sqlite3_step(m_statement) : SQLITE_MISUSE;
}

int Statement::run() {
    int code = step();
    while (code == SQLITE_ROW)
        code = step();
    reset();
    return code;
}

void Statement::reset() {
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(m_statement, column);
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

QString Statement::text(int column) const {
    return QString::fromUtf8(utf8(column));
}

QByteArrayView Statement::utf8(int column) const {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
    return QByteArrayView(bytes, sqlite3_column_bytes(m_statement, column));
}

} // namespace Sqlite
