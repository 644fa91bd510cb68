#include "journal/JournalTexts.h"

#include <QDateTime>
#include <QSaveFile>
#include <QStringList>
#include <QTextStream>

namespace {

QString endText(CommandEnd end) {
    switch (end) {
    case CommandEnd::Prompt:
        return QStringLiteral("ответ завершён");
    case CommandEnd::Silence:
        return QStringLiteral("нет ответа 60 с");
    case CommandEnd::Reopened:
        return QStringLiteral("отброшена: порт открыт заново");
    case CommandEnd::SwitchedOff:
        return QStringLiteral("снята: сервер Web выключен");
    case CommandEnd::PortClosed:
        return QStringLiteral("порт закрыт");
    case CommandEnd::PortLost:
        return QStringLiteral("связь потеряна: результат неизвестен");
    case CommandEnd::NotSent:
        return QStringLiteral("не отправлена: порт не открыт");
    case CommandEnd::ProgramEnded:
        return QStringLiteral("прервана: программа закончила работу");
    case CommandEnd::LineDown:
        return QStringLiteral("не отправлена: нет связи 60 с");
    }
    return {};
}

QString refusalText(Refusal why) {
    switch (why) {
    case Refusal::QueueFull:
        return QStringLiteral("отказ: очередь заполнена");
    case Refusal::PortNotOpen:
        return QStringLiteral("отказ: порт не открыт");
    case Refusal::NotPermitted:
        return QStringLiteral("отказ: команда не разрешена");
    case Refusal::CrossSite:
        return QStringLiteral("отказ: запрос с чужого сайта");
    case Refusal::Host:
        return QStringLiteral("отказ: чужое имя сервера");
    case Refusal::ShareFull:
        return QStringLiteral("отказ: доля очереди пользователя заполнена");
    case Refusal::Character:
        return QStringLiteral("отказ: недопустимый символ в команде");
    case Refusal::PlacesFull:
        return QStringLiteral("отказ: все места заняты");
    }
    return {};
}

QString webText(WebEvent event) {
    switch (event) {
    case WebEvent::Admitted:
        return QStringLiteral("подключение");
    case WebEvent::LoggedIn:
        return QStringLiteral("вход");
    case WebEvent::WrongPassword:
        return QStringLiteral("неверный пароль");
    case WebEvent::SlotExpired:
        return QStringLiteral("место освобождено по времени");
    case WebEvent::ServerOn:
        return QStringLiteral("сервер Web включён");
    case WebEvent::ServerOff:
        return QStringLiteral("сервер Web выключен");
    }
    return {};
}

QString portText(PortEvent event) {
    switch (event) {
    case PortEvent::Opened:
        return QStringLiteral("порт открыт");
    case PortEvent::Closed:
        return QStringLiteral("порт закрыт");
    case PortEvent::Lost:
        return QStringLiteral("связь потеряна");
    case PortEvent::Returned:
        return QStringLiteral("связь восстановлена");
    case PortEvent::Stop:
        return QStringLiteral("послан STOP");
    }
    return {};
}

// What a command's end does not tell: STOP cut its reply short, or the reply may be the late
// end of the command before it.
QString commandNotes(const JournalRow& row) {
    QString notes;
    if (row.stopped)
        notes += QStringLiteral("; послан STOP");
    if (row.afterGiveUp)
        notes += QStringLiteral("; отправлена после команды без ответа: ответ может быть её");
    return notes;
}

// The clock set back between a command's sending and its end would make its duration
// negative: it is shown as not known.
QString seconds(std::int64_t milliseconds) {
    if (milliseconds < 0)
        return QStringLiteral("? (часы переведены)");
    return QStringLiteral("%1,%2 с")
        .arg(milliseconds / 1000)
        .arg(milliseconds % 1000, 3, 10, QLatin1Char('0'));
}

} // namespace

namespace JournalTexts {

QString time(std::int64_t milliseconds) {
    return QDateTime::fromMSecsSinceEpoch(milliseconds)
        .toString(QStringLiteral("dd.MM.yyyy HH:mm:ss.zzz"));
}

QString origin(const JournalRow& row) {
    switch (row.kind) {
    case RecordKind::Command:
    case RecordKind::Refusal:
    case RecordKind::Refusals:
    case RecordKind::Web:
        if (row.origin == CommandSource::Web)
            return row.address.isEmpty() ? QStringLiteral("Web")
                                         : QStringLiteral("Web ") + row.address;
        if (row.origin == CommandSource::Button)
            return QStringLiteral("Пульт, кнопка");
        return QStringLiteral("Пульт");
    case RecordKind::Lines:
        return QStringLiteral("Без команды");
    case RecordKind::Port:
        return QStringLiteral("Порт");
    case RecordKind::Lost:
        return QStringLiteral("Журнал");
    }
    return {};
}

QString subject(const JournalRow& row) {
    const int what = row.what.value_or(0);
    switch (row.kind) {
    case RecordKind::Web:
        return webText(WebEvent(what));
    case RecordKind::Port:
        return portText(PortEvent(what)) + QStringLiteral(": ") + row.text;
    case RecordKind::Lost:
        return QStringLiteral("не записано сообщений: %1 (журнал не успевал за ними)")
            .arg(row.text);
    case RecordKind::Refusals:
        return (row.address.isEmpty() ? QStringLiteral("ещё такие отказы с других адресов: %1")
                                      : QStringLiteral("ещё такие отказы: %1"))
            .arg(row.text);
    case RecordKind::Command:
    case RecordKind::Refusal:
    case RecordKind::Lines:
        break;
    }
    return row.text;
}

QString end(const JournalRow& row) {
    if (row.kind == RecordKind::Refusal || row.kind == RecordKind::Refusals)
        return refusalText(Refusal(row.what.value_or(0)));
    if (row.kind != RecordKind::Command)
        return {};
    if (row.what)
        return endText(CommandEnd(*row.what)) + commandNotes(row);
    return (row.sent ? QStringLiteral("ждёт ответа") : QStringLiteral("в очереди")) +
           commandNotes(row);
}

QString duration(const JournalRow& row) {
    if (row.kind == RecordKind::Command && row.sent && row.ended)
        return seconds(*row.ended - *row.sent);
    const bool spans = row.kind == RecordKind::Lines || row.kind == RecordKind::Refusals;
    if (spans && row.ended && *row.ended != row.time)
        return seconds(*row.ended - row.time); // from its first line or refusal to its last
    return {};
}

QString header(const JournalRow& row) {
    QStringList fields{time(row.time), origin(row)};
    if (row.kind != RecordKind::Lines)
        fields << subject(row);
    fields << end(row) << duration(row);
    fields.removeAll(QString());
    return fields.join(QStringLiteral("  "));
}

std::optional<QString> replyPane(const JournalQuery& query, std::int64_t record, int maxLines) {
    QStringList lines;
    const bool read = query.eachLine(record, [&](const QString& line) {
        lines.append(line);
        return lines.size() <= maxLines;
    });
    if (!read)
        return std::nullopt;
    if (lines.size() > maxLines) {
        lines.removeLast();
        lines << QStringLiteral("... показаны первые %1 строк из %2; все строки даёт экспорт")
                     .arg(maxLines)
                     .arg(query.lineCount(record));
    }
    return lines.join(QLatin1Char('\n'));
}

bool exportRecords(const QString& file, const std::vector<JournalRow>& rows,
                   const JournalQuery& query, QString& error,
                   const std::function<bool()>& stopped) {
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Text)) {
        error = out.errorString();
        return false;
    }
    QTextStream text(&out);
    text.setEncoding(QStringConverter::Utf8);
    for (const JournalRow& row : rows) {
        if (stopped()) { // the unfinished file is discarded
            error = QStringLiteral("прервано");
            return false;
        }
        text << header(row) << '\n';
        const bool read = query.eachLine(row.id, [&](const QString& line) {
            text << line << '\n';
            return true;
        });
        if (!read) { // the unfinished file is discarded
            error = QStringLiteral("файл журнала не читается: ") + query.problem();
            return false;
        }
        text << '\n';
    }
    text.flush();
    if (!out.commit()) {
        error = out.errorString();
        return false;
    }
    return true;
}

} // namespace JournalTexts
