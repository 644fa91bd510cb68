#pragma once

#include <QByteArrayView>
#include <QString>

#include <cstdint>

struct sqlite3;
struct sqlite3_stmt;

// A thin hold on libsqlite3: a connection and its prepared statements close with their
// objects. Each connection is used on one thread only.
namespace Sqlite {

// A damaged file: not a database at all, or one whose pages do not hold together.
bool isDamage(int code);
// Another connection holds the lock that the statement needs: a passing state, not a fault.
bool isBusy(int code);

class Connection {
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // SQLITE_OK, or the error code (errorText() says why).
    int open(const QString& path, bool readOnly);
    void close();
    bool isOpen() const { return m_db != nullptr; }
    // Runs statements that return nothing.
    int exec(const char* sql);
    // An integer pragma or the first column of a one-row query; `fallback` on failure.
    std::int64_t integer(const char* sql, std::int64_t fallback = -1) const;
    // SQLite's reason for the last failure, with the system's reason where there is one.
    QString errorText() const;
    int errorCode() const;
    // The row id of the last row inserted.
    std::int64_t lastRow() const;
    // Rows changed by the last statement that changed rows; all changed since the opening.
    std::int64_t changes() const;
    std::int64_t totalChanges() const;
    sqlite3* handle() const { return m_db; }

private:
    sqlite3* m_db = nullptr;
    QString m_openFailure; // why open() failed, after the connection is gone
};

class Statement {
public:
    Statement() = default;
    Statement(const Connection& connection, const char* sql);
    ~Statement();
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool isValid() const { return m_statement != nullptr; }
    // Parameters count from 1.
    Statement& bind(int index, std::int64_t value);
    Statement& bindText(int index, QByteArrayView utf8);
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step();
    // Steps to the end and resets; SQLITE_DONE on success.
    int run();
    void reset();

    std::int64_t integer(int column) const;
    bool isNull(int column) const;
    QString text(int column) const;
    // The column's UTF-8 bytes, valid until the next step or reset.
    QByteArrayView utf8(int column) const;

private:
    sqlite3_stmt* m_statement = nullptr;
};

} // namespace Sqlite
