#include "web/WebAccessList.h"

#include "shared/Cp1251.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>

WebAccessList::WebAccessList() {
    for (auto& list : m_lists)
        list = std::make_shared<const EntryList>();
}

std::shared_ptr<const EntryList> WebAccessList::snapshot(List list) const {
    std::lock_guard lock(m_mutex);
    return m_lists[int(list)];
}

void WebAccessList::replace(List list, EntryList entries) {
    auto fresh = std::make_shared<const EntryList>(std::move(entries));
    std::lock_guard lock(m_mutex);
    m_lists[int(list)] = std::move(fresh);
}

bool WebAccessList::passwordMatches(const QByteArray& password) const {
    return snapshot(List::Passwords)->contains(password);
}

bool WebAccessList::commandPermitted(const QByteArray& head) const {
    return snapshot(List::Permitted)->contains(head);
}

bool WebAccessList::canBeTyped(const QString& password) {
    const auto control = [](QChar character) {
        const char16_t code = character.unicode();
        return code <= 32 || (code >= 127 && code <= 159);
    };
    return std::ranges::none_of(password, control) &&
           Cp1251::toUnicode(Cp1251::fromUnicode(password)) == password;
}

namespace ListFiles {

QString fileName(WebAccessList::List list) {
    switch (list) {
    case WebAccessList::List::Passwords:
        return QStringLiteral("Password");
    case WebAccessList::List::AllCommands:
        return QStringLiteral("Command");
    case WebAccessList::List::Permitted:
        break;
    }
    return QStringLiteral("CommandWeb");
}

EntryList parse(const QByteArray& text) {
    EntryList entries;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        entries.append(text.mid(start, end - start));
        if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n')
            ++end; // CR LF is one break
        start = end + 1;
    }
    return entries;
}

QByteArray format(const EntryList& entries) {
    QByteArray text;
    for (const QByteArray& entry : entries)
        text += entry + "\r\n";
    return text;
}

EntryList read(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return parse(file.readAll());
}

QString write(const QString& path, const EntryList& entries, bool ownerOnly) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (ownerOnly)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray text = format(entries);
    if (file.write(text) != text.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return file.errorString();
    return {};
}

} // namespace ListFiles
