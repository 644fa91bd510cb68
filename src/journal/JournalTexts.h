#pragma once

#include "journal/JournalQuery.h"

#include <QString>

#include <functional>
#include <optional>

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
// What the reply pane shows of a record: its lines, at most `maxLines`, and then how many
// it holds in all. Nothing when reading failed or was stopped.
std::optional<QString> replyPane(const JournalQuery& query, std::int64_t record, int maxLines);
// The records in order, each as its header line, its lines, and an empty line. False, and
// nothing written, when the journal's file cannot be read or the file cannot be written, or
// once `stopped` says so, which it is asked before each record; `error` says why.
bool exportRecords(const QString& file, const std::vector<JournalRow>& rows,
                   const JournalQuery& query, QString& error, const std::function<bool()>& stopped);

} // namespace JournalTexts
