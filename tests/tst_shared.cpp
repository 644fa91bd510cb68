#include "shared/Cp1251.h"
#include "shared/History.h"
#include "shared/ShortText.h"

#include <QTest>

class TestShared : public QObject {
    Q_OBJECT
private slots:
    void shortTextCutsAtCapacity_data();
    void shortTextCutsAtCapacity();
    void cp1251RoundTrip_data();
    void cp1251RoundTrip();
    void unmappableBecomesQuestionMark();
    void history_data();
    void history();
};

namespace {

QStringList numbers(int from, int to) {
    QStringList list;
    for (int n = from; n <= to; ++n)
        list << QString::number(1000 + n);
    return list;
}

} // namespace

void TestShared::shortTextCutsAtCapacity_data() {
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("kept");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("shorter") << QByteArray("RTM-RRT") << QByteArray("RTM-RRT");
    QTest::newRow("exactly full") << QByteArray(40, 'x') << QByteArray(40, 'x');
    QTest::newRow("longer is cut") << QByteArray(45, 'y') << QByteArray(40, 'y');
    QTest::newRow("high bytes are characters") << QByteArray("\xFF\x80") << QByteArray("\xFF\x80");
}

void TestShared::shortTextCutsAtCapacity() {
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, kept);
    ShortText<40> text(value);
    QCOMPARE(text.bytes(), kept);
    QCOMPARE(text.size(), std::size_t(kept.size()));
    ShortText<40> appended;
    for (const char c : value)
        appended.append(c);
    QCOMPARE(appended, text);
}

void TestShared::cp1251RoundTrip_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ascii") << QStringLiteral("SSD-RSP:2345,REST")
                           << QByteArray("SSD-RSP:2345,REST");
    QTest::newRow("cyrillic") << QStringLiteral("Порт не открыт")
                              << QByteArray("\xCF\xEE\xF0\xF2 \xED\xE5 \xEE\xF2\xEA\xF0\xFB\xF2");
    QTest::newRow("yo and numero") << QStringLiteral("Ёё№") << QByteArray("\xA8\xB8\xB9");
}

void TestShared::cp1251RoundTrip() {
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QVERIFY(Cp1251::available());
    QCOMPARE(Cp1251::fromUnicode(text), bytes);
    QCOMPARE(Cp1251::toUnicode(bytes), text);
}

void TestShared::unmappableBecomesQuestionMark() {
    QCOMPARE(Cp1251::fromUnicode(QStringLiteral("A\u4E2DB")), QByteArray("A?B"));
}

void TestShared::history_data() {
    QTest::addColumn<QStringList>("history");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("first number") << QStringList() << "2345" << QStringList{"2345"};
    QTest::newRow("new number at the end")
        << QStringList{"2345", "1111"} << "0000" << QStringList{"2345", "1111", "0000"};
    QTest::newRow("duplicate keeps its place")
        << QStringList{"2345", "1111"} << "2345" << QStringList{"2345", "1111"};
    QTest::newRow("other case is another number")
        << QStringList{"12ab"} << "12AB" << QStringList{"12ab", "12AB"};
    QTest::newRow("17th drops the oldest") << numbers(1, 16) << "1017" << numbers(2, 17);
    QTest::newRow("full, duplicate of the oldest") << numbers(1, 16) << "1001" << numbers(1, 16);
}

void TestShared::history() {
    QFETCH(QStringList, history);
    QFETCH(QString, number);
    QFETCH(QStringList, after);
    QCOMPARE(History::added(history, number), after);
}

QTEST_APPLESS_MAIN(TestShared)
#include "tst_shared.moc"
