#include "commands/CommandBuilders.h"

#include "shared/Cp1251.h"

namespace {

// Cut first: every character becomes one byte in code page 1251 (unmappable ones become '?'),
// so the first 50 characters are the first 50 bytes.
ComposedText composed(const QString& text) {
    return ComposedText(Cp1251::fromUnicode(text.left(qsizetype(ComposedText::capacity()))));
}

// "SSD-RSP:" / "SSD-WSP:" / "ENR-RPN:" followed by the prefixed number.
QString numberCommand(const char* word, const QString& prefix, const QString& number) {
    return QString::fromLatin1(word) + prefix + number;
}

QString rangeCommand(const char* word, const QString& first, const QString& last) {
    return QString::fromLatin1(word) + first + QLatin1Char(',') + last;
}

// The year without its century, from the year's decimal text: 2026 → "26", 2005 → "05".
QString yearPiece(int year) {
    return QString::number(year).mid(2);
}

} // namespace

namespace Commands {

ComposedText readRest(const QString& prefix, const QString& number) {
    return composed(numberCommand("SSD-RSP:", prefix, number) + QLatin1String(",REST"));
}

ComposedText writeRest(const QString& prefix, const QString& number, const QString& value) {
    return composed(numberCommand("SSD-WSP:", prefix, number) + QLatin1String(",REST,") + value);
}

ComposedText readEqup(const QString& prefix, const QString& number) {
    return composed(numberCommand("SSD-RSP:", prefix, number) + QLatin1String(",EQUP"));
}

ComposedText writeEqupOne(const QString& prefix, const QString& number) {
    return composed(numberCommand("SSD-WSP:", prefix, number) + QLatin1String(",EQUP,1"));
}

ComposedText writeEqupZero(const QString& prefix, const QString& number) {
    return composed(numberCommand("SSD-WSP:", prefix, number) + QLatin1String(",EQUP,0"));
}

ComposedText whichModule(const QString& prefix, const QString& number) {
    return composed(numberCommand("ENR-RPN:", prefix, number));
}

// The one module is sent as both the first and the last module of the range.
ComposedText restartOneModule(const QString& module) {
    return composed(rangeCommand("INS-RST:", module, module));
}

ComposedText readParameter(const QString& prefix, const QString& number, const QString& parameter) {
    return composed(numberCommand("SSD-RSP:", prefix, number) + QLatin1Char(',') + parameter);
}

ComposedText writeParameterOne(const QString& prefix, const QString& number,
                               const QString& parameter) {
    return writeParameter(prefix, number, parameter, QStringLiteral("1"));
}

ComposedText writeParameterZero(const QString& prefix, const QString& number,
                                const QString& parameter) {
    return writeParameter(prefix, number, parameter, QStringLiteral("0"));
}

ComposedText writeParameter(const QString& prefix, const QString& number, const QString& parameter,
                            const QString& value) {
    return composed(numberCommand("SSD-WSP:", prefix, number) + QLatin1Char(',') + parameter +
                    QLatin1Char(',') + value);
}

ComposedText localBlockingAllModules() {
    return composed(QStringLiteral("DGN-GRD:FF"));
}

ComposedText flmDspSixteen() {
    return composed(QStringLiteral("FLM-DSP:0,16"));
}

ComposedText flmDsp(const QString& first, const QString& last) {
    return composed(rangeCommand("FLM-DSP:", first, last));
}

ComposedText flmDsm(const QString& first, const QString& last) {
    return composed(rangeCommand("FLM-DSM:", first, last));
}

ComposedText restartModules(const QString& first, const QString& last) {
    return composed(rangeCommand("INS-RST:", first, last));
}

ComposedText loadModules(const QString& first, const QString& last) {
    return composed(rangeCommand("INS-RLD:", first, last));
}

ComposedText eraseModules(const QString& first, const QString& last) {
    return composed(rangeCommand("INS-CLB:", first, last));
}

ComposedText clockRead() {
    return composed(QStringLiteral("RTM-RRT"));
}

// w,d,m,y,h,n,s: weekday (1 = Monday .. 7 = Sunday), day, month, year without century, hour,
// minute, second; decimal without leading zeros. Milliseconds are dropped.
ComposedText clockWrite(const QDateTime& reading) {
    const QDate date = reading.date();
    const QTime time = reading.time();
    const QStringList pieces = {
        QString::number(date.dayOfWeek()), QString::number(date.day()),
        QString::number(date.month()),     yearPiece(date.year()),
        QString::number(time.hour()),      QString::number(time.minute()),
        QString::number(time.second()),
    };
    return composed(QLatin1String("RTM-URT:") + pieces.join(QLatin1Char(',')));
}

ComposedText corMta() {
    return composed(QStringLiteral("COR-MTA"));
}

ComposedText corMtw() {
    return composed(QStringLiteral("COR-MTW"));
}

} // namespace Commands
