#include "PageFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Where an open descriptor really leads: the kernel's own name of the opened file.
QString realPathOf(int descriptor) {
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(descriptor);
    char target[PATH_MAX];
    const ssize_t length = ::readlink(link.constData(), target, sizeof target);
    return length > 0 ? QFile::decodeName(QByteArray(target, length)) : QString();
}

bool isRegularFile(int descriptor) {
    struct stat info {};
    return ::fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace

PageFolder::PageFolder(QString workingDirectory)
    : m_workingDirectory(std::move(workingDirectory)) {}

QByteArray PageFolder::fileName(QByteArrayView documentPath) {
    return (QByteArray("WEB") + documentPath.toByteArray()).left(NAME_CAPACITY);
}

// Opened without blocking (a fifo waits for no writer) and without becoming a terminal's
// controlling process; then checked through the open descriptor, which is what is read.
std::optional<QByteArray> PageFolder::serve(QByteArrayView documentPath) const {
    const QByteArray name = fileName(documentPath);
    if (name.contains('\0') || name.contains('\\'))
        return std::nullopt;
    const QDir working(m_workingDirectory);
    const QString folder = QFileInfo(working.filePath(QStringLiteral("WEB"))).canonicalFilePath();
    if (folder.isEmpty())
        return std::nullopt;
    const QByteArray path = QFile::encodeName(working.filePath(QFile::decodeName(name)));
    const int descriptor = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0)
        return std::nullopt;
    QFile file;
    file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    if (m_opened)
        m_opened();
    if (!isRegularFile(descriptor) || !realPathOf(descriptor).startsWith(folder + QLatin1Char('/')))
        return std::nullopt;
    return file.readAll();
}

PageFolder::Read PageFolder::read(const QString& name) const {
    QFile file(QDir(m_workingDirectory).absoluteFilePath(name));
    if (!file.open(QIODevice::ReadOnly))
        return {std::nullopt,
                QStringLiteral("Cannot open file \"%1\". %2")
                    .arg(QDir::toNativeSeparators(file.fileName()), file.errorString())};
    return {file.readAll(), {}};
}
