// The document path of a known client's request turned into the page file it may fetch:
// whatever the path, no file outside the folder "WEB" is ever named, no name is longer
// than 80 characters, and only regular files are served.
#include "FuzzSupport.h"
#include "web/PageFolder.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

// A working directory with a page folder that holds files, folders and symbolic links that
// lead out of it, a secret beside it and a sibling folder whose name begins like it.
struct Folder {
    QTemporaryDir dir;
    QString web;

    Folder() {
        QDir root(dir.path());
        mustHold(root.mkpath("WEB/img/deep") && root.mkpath("private") && root.mkpath("WEB2"),
                 "the folders are made");
        for (const char* name : {"WEB/index.html", "WEB/img/logo.gif", "WEB/img/deep/a.html",
                                 "private/secret", "secret", "WEB2/secret"}) {
            QFile file(root.filePath(QString::fromLatin1(name)));
            mustHold(file.open(QIODevice::WriteOnly) && file.write(name) > 0, "a file is made");
        }
        QFile::link(root.filePath("secret"), root.filePath("WEB/out"));
        QFile::link(root.filePath("private"), root.filePath("WEB/img/up"));
        QFile::link(root.path(), root.filePath("WEB/root"));
        QFile::link(root.filePath("WEB/index.html"), root.filePath("WEB/in"));
        web = QFileInfo(root.filePath("WEB")).canonicalFilePath();
        mustHold(!web.isEmpty(), "the page folder is there");
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    static const Folder folder;
    const QByteArray path(reinterpret_cast<const char*>(bytes), qsizetype(size));

    const QByteArray name = PageFolder::fileName(path);
    mustHold(name.startsWith("WEB") && name.size() <= PageFolder::NAME_CAPACITY,
             "the file name is \"WEB\" and the path, at most 80 characters");

    const PageFolder pages(folder.dir.path());
    const auto file = pages.serve(path);
    if (!file)
        return 0;
    const QByteArray served = file->readAll();
    const QFileInfo named(QDir(folder.dir.path()).filePath(QFile::decodeName(name)));
    mustHold(named.canonicalFilePath().startsWith(folder.web + QLatin1Char('/')),
             "a served file lies inside the page folder, links followed");
    mustHold(QFileInfo(named.canonicalFilePath()).isFile(), "only regular files are served");
    mustHold(!served.contains("secret"), "the served file is a page");
    QFile page(named.canonicalFilePath());
    mustHold(page.open(QIODevice::ReadOnly) && page.readAll() == served,
             "the bytes served are the named file's");
    return 0;
}
