#include "PageFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

PageFolder::PageFolder(QString workingDirectory)
    : m_workingDirectory(std::move(workingDirectory)) {}

QByteArray PageFolder::fileName(QByteArrayView documentPath) {
    return (QByteArray("WEB") + documentPath.toByteArray()).left(NAME_CAPACITY);
}

std::optional<QString> PageFolder::servable(QByteArrayView documentPath) const {
    const QByteArray name = fileName(documentPath);
    if (name.contains('\0') || name.contains('\\'))
        return std::nullopt;
    const QDir working(m_workingDirectory);
    const QString folder = QFileInfo(working.filePath(QStringLiteral("WEB"))).canonicalFilePath();
    const QFileInfo file(working.filePath(QFile::decodeName(name)));
    const QString real = file.canonicalFilePath(); // symbolic links followed; empty if missing
    if (folder.isEmpty() || !real.startsWith(folder + QLatin1Char('/')) ||
        !QFileInfo(real).isFile())
        return std::nullopt;
    return QFile::decodeName(name);
}

PageFolder::Read PageFolder::read(const QString& name) const {
    QFile file(QDir(m_workingDirectory).absoluteFilePath(name));
    if (!file.open(QIODevice::ReadOnly))
        return {std::nullopt,
                QStringLiteral("Cannot open file \"%1\". %2")
                    .arg(QDir::toNativeSeparators(file.fileName()), file.errorString())};
    return {file.readAll(), {}};
}
