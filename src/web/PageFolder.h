#pragma once

#include "WebExchange.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <memory>

// The page folder "WEB" in the working directory: the fixed pages the server answers with,
// and the further files that a known client may fetch by path. Only regular files inside
// the folder are ever served: a path that leads outside it (".." segments, a symbolic link
// pointing out), a directory, or a name with a backslash or a NUL byte is not a page. A
// file is checked once it is open, so what is served is the file that was checked, even
// when a link is swapped at the same moment; it is handed out open, for the server to send
// from its descriptor.
class PageFolder {
public:
    static constexpr qsizetype NAME_CAPACITY = 80; // characters of "WEB" + document path

    static constexpr const char* LOGIN = "WEB/index.html";
    static constexpr const char* WRONG_PASSWORD = "WEB/index1.html";
    static constexpr const char* ALL_PLACES_TAKEN = "WEB/MaxConnect.html";
    static constexpr const char* COMMAND = "WEB/Command.html";
    static constexpr const char* NOT_PERMITTED = "WEB/Command1.html";
    static constexpr const char* NO_PAGE = "WEB/NoPage.html";

    // An opened file, or the text of the failure to open it.
    struct Read {
        std::shared_ptr<const ResponseFile> file;
        QString error; // "Cannot open file "<full path>". <reason>"
    };

    explicit PageFolder(QString workingDirectory);

    // "WEB" followed by the document path, the whole name cut to 80 characters.
    static QByteArray fileName(QByteArrayView documentPath);
    // The file that a document path names, open, when it is a regular file whose real path
    // (links followed) lies inside the folder; nothing otherwise.
    std::shared_ptr<const ResponseFile> serve(QByteArrayView documentPath) const;
    // Opens a file named relative to the working directory.
    Read read(const QString& name) const;

    // Called each time serve() has opened a file, before it is checked (tests change the
    // folder there).
    void onOpened(std::function<void()> observer) { m_opened = std::move(observer); }

private:
    QString m_workingDirectory;
    std::function<void()> m_opened;
};
