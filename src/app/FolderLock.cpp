#include "app/FolderLock.h"

#include "shared/OperatorMessages.h"

#include <QDir>

FolderLock::FolderLock(const QString& folder)
    : m_folder(folder), m_lock(QDir(folder).filePath(QLatin1String(FILE_NAME))) {
    m_lock.setStaleLockTime(0); // stale only when its process is gone, however long it runs
}

bool FolderLock::acquire(OperatorMessages& messages) {
    if (m_lock.tryLock(0) || m_lock.error() != QLockFile::LockFailedError)
        return true;
    qint64 process = 0;
    QString host;
    QString program;
    m_lock.getLockInfo(&process, &host, &program);
    messages.failure(QStringLiteral("KORVANT уже запущен в папке %1 (процесс %2 на %3). "
                                    "Вторая копия программы не запускается: с журналом и "
                                    "списками этой папки работает первая.")
                         .arg(QDir::toNativeSeparators(m_folder))
                         .arg(process)
                         .arg(host));
    return false;
}
