#include "commands/CommandBuilders.h"
#include "commands/ModuleRange.h"
#include "commands/NumberPage.h"
#include "commands/PickLists.h"

#include <QTest>

using ModuleRange::RangeCommand;

class TestCommands : public QObject {
    Q_OBJECT
private slots:
    void commandForms_data();
    void commandForms();
    void clockWrite_data();
    void clockWrite();
    void pickListsHoldTheirValues();
    void parameterValues_data();
    void parameterValues();
    void numberPageButtons_data();
    void numberPageButtons();
    void hexByteValue_data();
    void hexByteValue();
    void rangeClick_data();
    void rangeClick();
};

void TestCommands::commandForms_data() {
    using namespace Commands;
    QTest::addColumn<QByteArray>("built");
    QTest::addColumn<QByteArray>("expected");
    const QString n = QStringLiteral("2345");
    const QString none;
    auto row = [](const char* name, const ComposedText& built, const char* expected) {
        QTest::newRow(name) << built.bytes() << QByteArray(expected);
    };
    row("1 restr", readRest(none, n), "SSD-RSP:2345,REST");
    row("2 restw", writeRest(none, n, "1A"), "SSD-WSP:2345,REST,1A");
    row("2 restw with prefix", writeRest("8", n, "1A"), "SSD-WSP:82345,REST,1A");
    row("3 equpr", readEqup(none, n), "SSD-RSP:2345,EQUP");
    row("4 equp1", writeEqupOne(none, n), "SSD-WSP:2345,EQUP,1");
    row("5 equp0", writeEqupZero("8", n), "SSD-WSP:82345,EQUP,0");
    row("6 ENRRPN", whichModule("8", n), "ENR-RPN:82345");
    row("7 INSRST", restartOneModule("0A"), "INS-RST:0A,0A");
    row("8 BitBtn5", readParameter(none, n, "TCAT"), "SSD-RSP:2345,TCAT");
    row("9 BitBtn2", writeParameterOne(none, n, "ICEC"), "SSD-WSP:2345,ICEC,1");
    row("10 BitBtn8", writeParameterZero("8", n, "HINT"), "SSD-WSP:82345,HINT,0");
    row("11 BitBtn6", writeParameter(none, n, "TCAT", "12"), "SSD-WSP:2345,TCAT,12");
    row("12 BitBtn10", localBlockingAllModules(), "DGN-GRD:FF");
    row("13 BitBtn3", flmDspSixteen(), "FLM-DSP:0,16");
    row("14 FlmDsp", flmDsp("03", "07"), "FLM-DSP:03,07");
    row("15 FlmDsm", flmDsm("03", "07"), "FLM-DSM:03,07");
    row("16 insrstm", restartModules("00", "16"), "INS-RST:00,16");
    row("17 InsRldM", loadModules("04", "05"), "INS-RLD:04,05");
    row("18 InsClbM", eraseModules("0A", "0B"), "INS-CLB:0A,0B");
    row("19 BitBtn4", clockRead(), "RTM-RRT");
    row("21 SpeedButton6", corMta(), "COR-MTA");
    row("22 SpeedButton4", corMtw(), "COR-MTW");
    // Field texts are sent as they stand: no trimming, no case change.
    row("typed text unchanged", writeParameter(" 8", "ab c", "tcat ", "x"),
        "SSD-WSP: 8ab c,tcat ,x");
    row("typed cyrillic goes out in code page 1251", readParameter(none, n, "ЁЯ"),
        "SSD-RSP:2345,\xA8\xDF");
    const QString longValue(40, QLatin1Char('7'));
    row("longer than 50 is cut", writeParameter("8", n, "REST", longValue),
        "SSD-WSP:82345,REST,7777777777777777777777777777777");
}

void TestCommands::commandForms() {
    QFETCH(QByteArray, built);
    QFETCH(QByteArray, expected);
    QCOMPARE(built, expected);
    QVERIFY(built.size() <= 50);
}

void TestCommands::clockWrite_data() {
    QTest::addColumn<QDateTime>("reading");
    QTest::addColumn<QByteArray>("expected");
    auto at = [](int y, int mo, int d, int h, int mi, int s, int ms = 0) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms));
    };
    QTest::newRow("Monday") << at(2026, 12, 7, 9, 5, 3) << QByteArray("RTM-URT:1,7,12,26,9,5,3");
    QTest::newRow("Tuesday midnight")
        << at(2030, 1, 1, 0, 0, 0) << QByteArray("RTM-URT:2,1,1,30,0,0,0");
    QTest::newRow("Sunday") << at(2026, 5, 31, 23, 59, 59)
                            << QByteArray("RTM-URT:7,31,5,26,23,59,59");
    QTest::newRow("milliseconds dropped")
        << at(2026, 5, 31, 12, 30, 45, 999) << QByteArray("RTM-URT:7,31,5,26,12,30,45");
    QTest::newRow("year keeps its zero")
        << at(2005, 3, 4, 10, 0, 1) << QByteArray("RTM-URT:5,4,3,05,10,0,1");
    QTest::newRow("century year") << at(2000, 2, 29, 1, 2, 3)
                                  << QByteArray("RTM-URT:2,29,2,00,1,2,3");
}

void TestCommands::clockWrite() {
    QFETCH(QDateTime, reading);
    QFETCH(QByteArray, expected);
    QCOMPARE(Commands::clockWrite(reading).bytes(), expected);
}

// The lists are typed out by hand: each entry is checked against what it stands for.
void TestCommands::pickListsHoldTheirValues() {
    const QStringList& rest = PickLists::RestValues();
    QCOMPARE(rest.size(), qsizetype(32));
    for (int i = 0; i < rest.size(); ++i)
        QCOMPARE(rest.at(i), QString::number(i, 16).toUpper());

    const QStringList& modules = PickLists::ModuleNumbers();
    QCOMPARE(modules.size(), qsizetype(23));
    for (int i = 0; i < modules.size(); ++i)
        QCOMPARE(ModuleRange::HexByteValue(modules.at(i)), std::optional<std::uint8_t>(i));
    QCOMPARE(PickLists::NumberPageModules(), modules.mid(4, 12));

    const QStringList& codes = PickLists::SubscriberParameters();
    QCOMPARE(codes.size(), qsizetype(36));
    QStringList sorted = codes;
    sorted.sort();
    sorted.removeDuplicates();
    QCOMPARE(sorted, codes);
    for (const QString& code : codes)
        QCOMPARE(code.size(), qsizetype(4));
}

void TestCommands::parameterValues_data() {
    QTest::addColumn<QString>("code");
    QTest::addColumn<QStringList>("values");
    QTest::newRow("ICEC") << "ICEC" << QStringList{"0", "2", "8", "9"};
    QTest::newRow("LINC") << "LINC" << QStringList{"1", "7"};
    QTest::newRow("ORTN") << "ORTN" << PickLists::RestValues();
    QTest::newRow("REST") << "REST" << PickLists::RestValues();
    QTest::newRow("TCAT") << "TCAT" << QStringList{"1", "2", "3", "4",  "5",  "6",
                                                   "7", "8", "9", "10", "11", "12"};
    QTest::newRow("EQUP") << "EQUP" << QStringList{"0", "1"};
    QTest::newRow("no such code") << "XXXX" << QStringList();
    QTest::newRow("other case") << "icec" << QStringList();
    QTest::newRow("trailing blank") << "ICEC " << QStringList();
}

void TestCommands::parameterValues() {
    QFETCH(QString, code);
    QFETCH(QStringList, values);
    QCOMPARE(PickLists::parameterValues(code), values);
}

namespace {

QString enabledNames(const NumberPage::Buttons& b) {
    const std::pair<bool, const char*> all[] = {
        {b.readRest, "restr"},
        {b.writeRest, "restw"},
        {b.readEqup, "equpr"},
        {b.writeEqupOne, "equp1"},
        {b.writeEqupZero, "equp0"},
        {b.whichModule, "ENRRPN"},
        {b.restartModule, "INSRST"},
        {b.readParameter, "BitBtn5"},
        {b.writeParameterOne, "BitBtn2"},
        {b.writeParameterZero, "BitBtn8"},
        {b.writeParameter, "BitBtn6"},
    };
    QStringList names;
    for (const auto& [enabled, name] : all)
        if (enabled)
            names << QString::fromLatin1(name);
    return names.join(QLatin1Char(' '));
}

} // namespace

void TestCommands::numberPageButtons_data() {
    QTest::addColumn<QStringList>("fields"); // number, REST value, module, parameter, value
    QTest::addColumn<QString>("enabled");
    const QString numberButtons = "restr equpr equp1 equp0 ENRRPN";
    const QString parameterButtons = numberButtons + " BitBtn5 BitBtn2 BitBtn8";
    auto row = [](const char* name, const QStringList& fields, const QString& enabled) {
        QTest::newRow(name) << fields << enabled;
    };
    row("nothing", {"", "", "", "", ""}, "");
    row("three characters, all else filled", {"123", "1A", "0A", "TCAT", "5"}, "INSRST");
    row("five characters", {"12345", "1A", "", "TCAT", "5"}, "");
    row("four characters", {"1234", "", "", "", ""}, numberButtons);
    row("any four characters", {"  яz", "", "", "", ""}, numberButtons);
    row("with REST value", {"1234", "1A", "", "", ""}, "restr restw equpr equp1 equp0 ENRRPN");
    row("with parameter", {"1234", "", "", "XXXX", ""}, parameterButtons);
    row("with parameter and value", {"1234", "", "", "TCAT", "5"}, parameterButtons + " BitBtn6");
    row("value without parameter", {"1234", "", "", "", "5"}, numberButtons);
    row("module alone", {"", "", "0A", "", ""}, "INSRST");
}

void TestCommands::numberPageButtons() {
    QFETCH(QStringList, fields);
    QFETCH(QString, enabled);
    const NumberPage::Fields page{fields[0], fields[1], fields[2], fields[3], fields[4]};
    QCOMPARE(enabledNames(NumberPage::enabledButtons(page)), enabled);
}

void TestCommands::hexByteValue_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value"); // -1: no value
    QTest::newRow("00") << "00" << 0;
    QTest::newRow("upper case") << "0A" << 10;
    QTest::newRow("lower case") << "0a" << 10;
    QTest::newRow("highest") << "Ff" << 255;
    QTest::newRow("rest ignored") << "1F7x" << 31;
    QTest::newRow("one character") << "7" << -1;
    QTest::newRow("letter past F first") << "G0" << -1;
    QTest::newRow("leading blank") << " 7" << -1;
    QTest::newRow("digits of another script") << "\u0661\u0662" << -1;
}

void TestCommands::hexByteValue() {
    QFETCH(QString, text);
    QFETCH(int, value);
    const auto expected = value < 0 ? std::nullopt : std::optional<std::uint8_t>(value);
    QCOMPARE(ModuleRange::HexByteValue(text), expected);
}

namespace {

// TFormDel's texts and layout in one line; empty when the command goes out unasked.
QString asked(const std::optional<ModuleRange::Question>& question) {
    if (!question)
        return {};
    const int widthOver = question->widthOverAction.value_or(0);
    return QStringLiteral("%1 @%2 +%3: %4")
        .arg(question->action)
        .arg(question->actionLeft)
        .arg(widthOver)
        .arg(question->count);
}

} // namespace

void TestCommands::rangeClick_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("question");
    auto row = [](const char* name, RangeCommand command, const char* first, const char* last,
                  const char* after, const char* text, const char* question = "") {
        QTest::newRow(name) << int(command) << QString(first) << QString(last) << QString(after)
                            << QByteArray(text) << QString(question);
    };
    using enum RangeCommand;
    row("one module", Restart, "05", "05", "05", "INS-RST:05,05");
    row("two modules", Restart, "03", "04", "04", "INS-RST:03,04",
        "Выполнить повторный запуск @30 +0: 2 модулей?");
    row("all modules erased", Erase, "00", "16", "16", "INS-CLB:00,16",
        "Стереть батарейное содержимое @10 +32: 23 модулей?");
    row("load asks", Load, "0E", "10", "10", "INS-RLD:0E,10",
        "Выполнить загрузку @70 +0: 3 модулей?");
    row("last below first", Load, "0A", "07", "0A", "INS-RLD:0A,0A");
    row("empty last", Erase, "0A", "", "0A", "INS-CLB:0A,0A");
    row("FLM-DSP never asks", FlmDsp, "00", "16", "16", "FLM-DSP:00,16");
    row("FLM-DSM never asks", FlmDsm, "00", "16", "16", "FLM-DSM:00,16");
    // The range rule compares character codes from the left; a prefix is the smaller.
    row("prefix of first is below", FlmDsp, "0A", "0", "0A", "FLM-DSP:0A,0A");
    row("first a prefix of last", FlmDsp, "0", "0A", "0A", "FLM-DSP:0,0A");
    row("lower case is above upper", FlmDsm, "0A", "0a", "0a", "FLM-DSM:0A,0a");
    row("upper case is below lower", FlmDsm, "0a", "0B", "0a", "FLM-DSM:0a,0a");
    // Code page order: "№" is 0xB9, below "Я" 0xDF, though above it in Unicode.
    row("code page order", FlmDsp, "Я", "№", "Я", "FLM-DSP:\xDF,\xDF");
    row("latin below cyrillic", FlmDsp, "Я", "z", "Я", "FLM-DSP:\xDF,\xDF");
    row("FLM-DSM not hexadecimal", FlmDsm, "XX", "YY", "YY", "FLM-DSM:XX,YY");
    // A count that cannot be known is asked about, whatever the range looks like.
    row("not hexadecimal asks", Restart, "X1", "X2", "X2", "INS-RST:X1,X2",
        "Выполнить повторный запуск @30 +0: ? модулей?");
    row("one character asks", Erase, "1", "1", "1", "INS-CLB:1,1",
        "Стереть батарейное содержимое @10 +32: ? модулей?");
    // The count is kept in eight bits: here ordinal order and hexadecimal value disagree.
    row("count wraps", Load, "0F", "0a", "0a", "INS-RLD:0F,0a",
        "Выполнить загрузку @70 +0: 252 модулей?");
    row("256 modules are asked about", Restart, "00", "FF", "FF", "INS-RST:00,FF",
        "Выполнить повторный запуск @30 +0: 256 модулей?");
    row("ordinal and hexadecimal disagree", Erase, "0B", "0a", "0a", "INS-CLB:0B,0a",
        "Стереть батарейное содержимое @10 +32: 256 модулей?");
}

void TestCommands::rangeClick() {
    QFETCH(int, command);
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(QString, after);
    QFETCH(QByteArray, text);
    QFETCH(QString, question);
    const auto click = ModuleRange::rangeClick(RangeCommand(command), first, last);
    QCOMPARE(click.last, after);
    QCOMPARE(click.text.bytes(), text);
    QCOMPARE(asked(click.question), question);
}

QTEST_APPLESS_MAIN(TestCommands)
#include "tst_commands.moc"
