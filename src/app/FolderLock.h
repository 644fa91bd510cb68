#pragma once

#include <QLockFile>
#include <QString>

class OperatorMessages;

// One KORVANT per working folder. A second program in the same folder would end the first
// one's queued and running commands in the journal as if the program had ended, and write
// its lists over the first one's; so the folder's lock file is held while the program runs,
// and a second start finds it, tells the operator and ends before it opens anything. A lock
// left by a program that died is stale (no process of that program holds it) and is taken
// over. A folder where no lock file can be made (read-only) is worked in without one: there
// is nothing in it that the program could write over.
class FolderLock {
public:
    static constexpr const char* FILE_NAME = "KORVANT.lock";

    explicit FolderLock(const QString& folder);

    // True when this program may work in the folder; otherwise the operator has been told
    // why not.
    bool acquire(OperatorMessages& messages);

private:
    QString m_folder;
    QLockFile m_lock;
};
