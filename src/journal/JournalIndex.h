#pragma once

#include "journal/Sqlite.h"

#include <QByteArray>

#include <cstdint>

// The journal's text index, kept on the writer's connection in the writer's transactions.
// Each record's text and reply lines are one document of an FTS5 table with the trigram
// tokenizer, under the record's id, folded as searches fold them (TextSearch). The table keeps
// neither the text (the records and their lines hold it) nor where in it each three characters
// stand, only which records hold them (contentless, detail=none): a search takes the records
// that hold its pieces of three characters and looks into those. Kept so, the index adds 6 %
// to a file of the benchmark's replies; one document per line would add 73 %, and the places
// of the pieces 84 % (one document per record) to 190 % (per line).
//
// A record's document is added once the record is complete. Until then the record is listed
// in `unindexed`, which a search looks into as it stands: a command not yet ended, the open
// group of lines without command, and, after an upgrade, every record written before the
// index, whose documents the writer then adds in slices. A document is removed with its
// record; the removal names the very text that was added, read back from the file the same
// way, for SQLite keeps nothing to check it against.
class JournalIndex {
public:
    // The index's tables, for a new file or an upgrade.
    static const char* const SCHEMA;
    // What the index is asked for the records that may hold the text (folded): every piece
    // of three characters that it holds, or enough of them to cover it. Empty for a text
    // shorter than three characters, which only a scan can find.
    static QByteArray matchQuery(QByteArrayView folded);

    bool prepare(const Sqlite::Connection& db);
    // The statements go, before the connection closes.
    void clear();
    // A transaction of the writer was rolled back: what it added is listed again.
    void rolledBack() { m_moreToAdd = true; }

    // A record that may still get lines is listed until it is complete.
    bool list(std::int64_t record);
    // A record complete as it is written (a refusal, an event): its text is its document.
    bool add(std::int64_t record, QByteArrayView text);
    // A line comes for a command that has ended: its document, if added, is taken back, and
    // the record listed until it is added again.
    bool reopen(std::int64_t record);
    // Adds the documents of the complete records listed, the newest first, all but
    // `openGroup`, until `most` are added or `budgetMs` has passed.
    bool addCompleted(std::int64_t openGroup, int most, std::int64_t budgetMs);
    // Before its record is deleted: its document, or its listing, goes.
    bool remove(std::int64_t record);
    // Documents removed leave their entries in the index's segments, and mark them deleted in
    // new ones, until segments are merged: after a pruning every segment is merged into one,
    // a step at a time, for `budgetMs` at most.
    bool merge(std::int64_t budgetMs);
    // Complete records wait to be added, or segments to be merged.
    bool hasWork() const { return m_moreToAdd || m_mergeWanted; }

private:
    bool unlist(std::int64_t record, bool& wasListed);
    bool readText(std::int64_t record);
    bool insert(std::int64_t record);

    const Sqlite::Connection* m_db = nullptr;
    Sqlite::Statement m_list;
    Sqlite::Statement m_unlist;
    Sqlite::Statement m_isListed;
    Sqlite::Statement m_completed;
    Sqlite::Statement m_add;
    Sqlite::Statement m_delete;
    Sqlite::Statement m_merge;
    Sqlite::Statement m_recordText;
    Sqlite::Statement m_recordLines;
    QByteArray m_raw;  // the text of the record read last
    QByteArray m_text; // its document
    bool m_moreToAdd = false;
    bool m_mergeWanted = false;
};
