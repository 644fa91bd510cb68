#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <mutex>

class QDir;

// One list of entries, each a single-byte text in code page 1251, compared as bytes.
using EntryList = QList<QByteArray>;

// The web access lists: the passwords that admit a browser user, the catalogue of all
// commands the operator may permit, and the command heads permitted to web users. The
// window thread edits them; the HTTP threads read them at the same time. A reader takes a
// snapshot: a whole list as it stood at one moment, never a half-changed one.
class WebAccessList {
public:
    enum class List { Passwords, AllCommands, Permitted };
    static constexpr int LIST_COUNT = 3;

    WebAccessList();

    // A snapshot of one list; safe on any thread.
    std::shared_ptr<const EntryList> snapshot(List list) const;
    EntryList entries(List list) const { return *snapshot(list); }
    // Replaces a list (window thread). Loading and editing both come through here.
    void replace(List list, EntryList entries);

    // True when `password` equals a password entry whole, byte for byte.
    bool passwordMatches(const QByteArray& password) const;
    bool hasPasswords() const { return !snapshot(List::Passwords)->isEmpty(); }
    // True when `head` (a command's first 7 characters) equals a permitted entry whole.
    bool commandPermitted(const QByteArray& head) const;

    // True when a browser user can give `password` on the login page: the login drops every
    // character of code 32 or less, and the page speaks code page 1251, so a password with
    // a space, a control character (codes below 32, 127, and 128 to 159) or a character
    // that code page 1251 cannot hold could never be used.
    static bool canBeTyped(const QString& password);

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<const EntryList> m_lists[LIST_COUNT];
};

// The list files: "Password", "Command" and "CommandWeb" in the working directory, plain
// text with one entry per line.
namespace ListFiles {

QString fileName(WebAccessList::List list);

// A line ends at CR, at LF or at CR LF; a break after the last entry adds no entry; an
// empty line is an empty entry.
EntryList parse(const QByteArray& text);
// Every entry, the last one too, followed by CR LF.
QByteArray format(const EntryList& entries);

// The entries of a file; an empty list when the file is missing or unreadable.
EntryList read(const QString& path);

// Writes a list so that a crash or a full disk never leaves a half-written file: a
// temporary file beside it is written, flushed to disk and renamed over the old one.
// `ownerOnly` makes the file readable by its owner alone. Returns the system's reason on
// failure, an empty text on success.
QString write(const QString& path, const EntryList& entries, bool ownerOnly);

} // namespace ListFiles
