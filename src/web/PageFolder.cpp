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
// controlling process; then checked through the open descriptor, which is what is sent.
std::shared_ptr<const ResponseFile> PageFolder::serve(QByteArrayView documentPath) const {
    const QByteArray name = fileName(documentPath);
    if (name.contains('\0') || name.contains('\\'))
        return nullptr;
    const QDir working(m_workingDirectory);
    const QString folder = QFileInfo(working.filePath(QStringLiteral("WEB"))).canonicalFilePath();
    if (folder.isEmpty())
        return nullptr;
    const QByteArray path = QFile::encodeName(working.filePath(QFile::decodeName(name)));
    const int descriptor = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0)
        return nullptr;
    auto file = std::make_shared<const ResponseFile>(descriptor);
    if (m_opened)
        m_opened();
    if (!isRegularFile(descriptor) || !realPathOf(descriptor).startsWith(folder + QLatin1Char('/')))
        return nullptr;
    return file;
}

PageFolder::Read PageFolder::read(const QString& name) const {
    QFile file(QDir(m_workingDirectory).absoluteFilePath(name));
    if (!file.open(QIODevice::ReadOnly))
        return {nullptr, QStringLiteral("Cannot open file \"%1\". %2")
                             .arg(QDir::toNativeSeparators(file.fileName()), file.errorString())};
    return {std::make_shared<const ResponseFile>(::fcntl(file.handle(), F_DUPFD_CLOEXEC, 0)), {}};
}
