#pragma once

#include <QString>
#include <QStringList>

// The histories of the command line and of the number field follow one rule: at most 16
// entries, in the order of their first use; an entry already present (exact, case-sensitive
// comparison) keeps its place; a new one goes to the end, the oldest dropped first when
// the history is full.
namespace History {

constexpr qsizetype CAPACITY = 16;

inline QStringList added(const QStringList& history, const QString& entry) {
    if (history.contains(entry, Qt::CaseSensitive))
        return history;
    QStringList result = history;
    while (result.size() >= CAPACITY)
        result.removeFirst();
    result.append(entry);
    return result;
}

} // namespace History
