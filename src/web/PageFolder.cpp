#include "web/PageFolder.h"

#include <QDir>
#include <QFile>

#include <climits>
#include <deque>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// A descriptor that closes itself.
class Descriptor {
public:
    explicit Descriptor(int descriptor = -1) : m_descriptor(descriptor) {}
    ~Descriptor() {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
    }
    Descriptor(Descriptor&& other) noexcept : m_descriptor(std::exchange(other.m_descriptor, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(m_descriptor, other.m_descriptor);
        return *this;
    }
    int get() const { return m_descriptor; }
    bool isOpen() const { return m_descriptor >= 0; }

private:
    int m_descriptor;
};

// Where a descriptor leads: the kernel's own name of the place.
QByteArray realPathOf(int descriptor) {
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(descriptor);
    char target[PATH_MAX];
    const ssize_t length = ::readlink(link.constData(), target, sizeof target);
    return length > 0 ? QByteArray(target, length) : QByteArray();
}

mode_t typeOf(int descriptor) {
    struct stat info {};
    return ::fstat(descriptor, &info) == 0 ? info.st_mode & S_IFMT : 0;
}

// The target of the link that a place-only descriptor holds.
QByteArray linkTarget(int link) {
    char target[PATH_MAX];
    const ssize_t length = ::readlinkat(link, "", target, sizeof target);
    return length > 0 ? QByteArray(target, length) : QByteArray();
}

// Walks `name` (components separated by "/") beneath the folder `root`, whose real path is
// `rootPath`, and returns a place-only descriptor (O_PATH) of what it names; none when the
// name leads outside, names nothing, or ends at a folder. Each component is opened as a
// place without following a link; ".." goes back to the folder walked before and never
// above `root`; a link's target is walked in its stead, from the link's folder when it is
// relative and from `root` when it is absolute and lies under `rootPath`.
Descriptor findBeneath(const Descriptor& root, const QByteArray& rootPath, const QByteArray& name) {
    std::vector<Descriptor> folders; // walked into, below the root
    std::deque<QByteArray> components;
    for (const QByteArray& component : name.split('/'))
        components.push_back(component);
    int links = 0;
    while (!components.empty()) {
        const QByteArray component = std::move(components.front());
        components.pop_front();
        const int folder = folders.empty() ? root.get() : folders.back().get();
        if (component.isEmpty() || component == ".")
            continue;
        if (component == "..") {
            if (folders.empty())
                return Descriptor(); // above the folder
            folders.pop_back();
            continue;
        }
        Descriptor place(::openat(folder, component.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!place.isOpen())
            return Descriptor();
        switch (typeOf(place.get())) {
        case S_IFLNK: {
            QByteArray target = linkTarget(place.get());
            if (++links > PageFolder::LINKS_FOLLOWED || target.isEmpty())
                return Descriptor();
            if (target.startsWith('/')) {
                if (target != rootPath && !target.startsWith(rootPath + '/'))
                    return Descriptor(); // leads out
                target = target.sliced(rootPath.size());
                folders.clear();
            }
            const QList<QByteArray> walked = target.split('/');
            components.insert(components.begin(), walked.begin(), walked.end());
            break;
        }
        case S_IFDIR:
            folders.push_back(std::move(place));
            break;
        default:
            if (!components.empty())
                return Descriptor(); // a file is no folder to go on in
            return place;
        }
    }
    return Descriptor(); // a folder, or nothing
}

} // namespace

PageFolder::PageFolder(QString workingDirectory)
    : m_workingDirectory(std::move(workingDirectory)) {}

QByteArray PageFolder::fileName(QByteArrayView documentPath) {
    return (QByteArray("WEB") + documentPath.toByteArray()).left(NAME_CAPACITY);
}

// The place found beneath the folder is opened for reading through itself (its entry in
// /proc/self/fd), without blocking and without becoming a terminal's controlling process,
// and only when it is a regular file.
std::shared_ptr<const ResponseFile> PageFolder::serve(QByteArrayView documentPath) const {
    const QByteArray name = fileName(documentPath);
    if (!name.startsWith("WEB/") || name.contains('\0') || name.contains('\\'))
        return nullptr;
    const QByteArray folderName =
        QFile::encodeName(QDir(m_workingDirectory).filePath(QStringLiteral("WEB")));
    const Descriptor root(::open(folderName.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    const QByteArray rootPath = root.isOpen() ? realPathOf(root.get()) : QByteArray();
    if (rootPath.isEmpty())
        return nullptr;
    const Descriptor place = findBeneath(root, rootPath, name.sliced(4));
    if (!place.isOpen())
        return nullptr;
    if (m_opened)
        m_opened();
    if (typeOf(place.get()) != S_IFREG)
        return nullptr;
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(place.get());
    const int descriptor = ::open(self.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0)
        return nullptr;
    return std::make_shared<const ResponseFile>(descriptor);
}

PageFolder::Read PageFolder::read(const QString& name) const {
    QFile file(QDir(m_workingDirectory).absoluteFilePath(name));
    if (!file.open(QIODevice::ReadOnly))
        return {nullptr, QStringLiteral("Cannot open file \"%1\". %2")
                             .arg(QDir::toNativeSeparators(file.fileName()), file.errorString())};
    return {std::make_shared<const ResponseFile>(::fcntl(file.handle(), F_DUPFD_CLOEXEC, 0)), {}};
}
