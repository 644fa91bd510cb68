#pragma once

#include "web/WebExchange.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <memory>

// The page folder "WEB" in the working directory: the fixed pages the server answers with,
// and the further files that a known client may fetch by path. Only regular files inside
// the folder are ever served: a path that leads outside it (".." segments, a symbolic link
// pointing out), a directory, or a name with a backslash or a NUL byte is not a page.
// Nothing outside the folder is ever opened, not even to be refused: the name is walked
// beneath the folder one component at a time, each opened as a place only (no device is
// opened, no fifo waited on, no automount entered outside), and a link is followed only
// while it stays inside, written relative or absolute. Only the regular file found at the
// end is opened for reading, through the place that was checked, so what is served is that
// file even when a link is swapped at the same moment; it is handed out open, for the
// server to send from its descriptor.
class PageFolder {
public:
    static constexpr qsizetype NAME_CAPACITY = 80; // characters of "WEB" + document path
    // Symbolic links followed at most for one name, as the system itself does: a loop of
    // links ends there.
    static constexpr int LINKS_FOLLOWED = 40;

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
    // The file that a document path names, open, when it is a regular file reached inside
    // the folder (links followed while they stay inside); nothing otherwise.
    std::shared_ptr<const ResponseFile> serve(QByteArrayView documentPath) const;
    // Opens a file named relative to the working directory.
    Read read(const QString& name) const;

    // Called each time serve() has found the place of a file, before the file is opened
    // for reading (tests change the folder there).
    void onOpened(std::function<void()> observer) { m_opened = std::move(observer); }

private:
    QString m_workingDirectory;
    std::function<void()> m_opened;
};
