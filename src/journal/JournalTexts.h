#pragma once

#include "JournalQuery.h"

#include <QString>

class QTextStream;

// How a record of the journal reads, in the journal window and in an export: the computer's
// local time to the millisecond, where it came from, its command (or first line, or event),
// how it ended and how long it took.
namespace JournalTexts {

QString time(std::int64_t milliseconds);
QString origin(const JournalRow& row);
QString subject(const JournalRow& row);
QString end(const JournalRow& row);
QString duration(const JournalRow& row);
// The export's header line of a record: its fields, two spaces apart.
QString header(const JournalRow& row);
// The records in order, each as its header line, its lines, and an empty line. False
// when the file cannot be written; `error` says why.
bool exportRecords(const QString& file, const std::vector<JournalRow>& rows,
                   const JournalQuery& query, QString& error);

} // namespace JournalTexts
