#include "WindowRig.h"
#include "commands/ModuleSheet.h"
#include "commands/SubscriberSheet.h"
#include "commands/SystemSheet.h"
#include "shared/Widgets.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

namespace {

QList<QPushButton*> numberButtons(const SubscriberSheet& page) {
    return {page.restr,  page.restw,   page.equpr,   page.equp1,   page.equp0,
            page.ENRRPN, page.BitBtn5, page.BitBtn2, page.BitBtn8, page.BitBtn6};
}

QStringList enabledNames(const QList<QPushButton*>& buttons) {
    QStringList names;
    for (const QPushButton* button : buttons)
        if (button->isEnabled())
            names << button->objectName();
    return names;
}

void type(QComboBox* combo, const QString& text) {
    QTest::keyClicks(combo, text);
}

} // namespace

class TestPages : public QObject {
    Q_OBJECT
private slots:
    void fourthCharacterEnablesTen();
    void deletingOneCharacterDisablesTen();
    void changingParameterEmptiesValue();
    void valueLists_data();
    void valueLists();
    void buttonsSendTheirCommands_data();
    void buttonsSendTheirCommands();
    void numberHistory();
    void singleModuleRestart();
    void noPortOpen();
    void moduleFirstFieldDrivesRange();
    void moduleRangeQuestion_data();
    void moduleRangeQuestion();
    void clockButtons();
    void clockLabel_data();
    void clockLabel();
};

void TestPages::fourthCharacterEnablesTen() {
    WindowRig rig;
    SubscriberSheet& page = *rig.form1->TabSheet1;
    rig.form1->FormActivate();
    type(page.ComboBox3, QStringLiteral("1a"));
    page.ComboBox5->setCurrentText(QStringLiteral("TCAT"));
    page.ComboBox6->setCurrentText(QStringLiteral("3"));
    type(page.ComboBox2, QStringLiteral("123"));
    QVERIFY(enabledNames(numberButtons(page)).isEmpty());
    QCOMPARE(page.ComboBox3->currentText(), QStringLiteral("1A")); // capitals as typed
    type(page.ComboBox2, QStringLiteral("4"));
    QCOMPARE(enabledNames(numberButtons(page)).size(), 10);
    type(page.ComboBox2, QStringLiteral("5")); // a fifth character is refused
    QCOMPARE(page.ComboBox2->currentText(), QStringLiteral("1234"));
    QVERIFY(page.BitBtn10->isEnabled());
}

void TestPages::deletingOneCharacterDisablesTen() {
    WindowRig rig;
    SubscriberSheet& page = *rig.form1->TabSheet1;
    type(page.ComboBox3, QStringLiteral("7"));
    page.ComboBox5->setCurrentText(QStringLiteral("REST"));
    page.ComboBox6->setCurrentText(QStringLiteral("1F"));
    type(page.ComboBox2, QStringLiteral("2345"));
    QCOMPARE(enabledNames(numberButtons(page)).size(), 10);
    QTest::keyClick(page.ComboBox2, Qt::Key_Backspace);
    QVERIFY(enabledNames(numberButtons(page)).isEmpty());
}

void TestPages::changingParameterEmptiesValue() {
    WindowRig rig;
    SubscriberSheet& page = *rig.form1->TabSheet1;
    type(page.ComboBox2, QStringLiteral("2345"));
    QVERIFY(!page.BitBtn5->isEnabled());
    page.ComboBox5->setCurrentText(QStringLiteral("ICEC"));
    QCOMPARE(enabledNames({page.BitBtn5, page.BitBtn2, page.BitBtn8, page.BitBtn6}),
             (QStringList{"BitBtn5", "BitBtn2", "BitBtn8"}));
    page.ComboBox6->setCurrentIndex(2);
    QCOMPARE(page.ComboBox6->currentText(), QStringLiteral("8"));
    QVERIFY(page.BitBtn6->isEnabled());
    page.ComboBox5->setCurrentText(QStringLiteral("LINC"));
    QVERIFY(page.ComboBox6->currentText().isEmpty());
    QCOMPARE(Widgets::list(page.ComboBox6), (QStringList{"1", "7"}));
    QCOMPARE(enabledNames({page.BitBtn5, page.BitBtn2, page.BitBtn8, page.BitBtn6}),
             (QStringList{"BitBtn5", "BitBtn2", "BitBtn8"}));
    page.ComboBox5->setCurrentText(QStringLiteral("XYZW")); // no such parameter: no values
    QCOMPARE(page.ComboBox6->count(), 0);
    QVERIFY(page.BitBtn5->isEnabled());
}

void TestPages::valueLists_data() {
    QTest::addColumn<QString>("parameter");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::newRow("ICEC") << "ICEC" << 4 << "0"
                          << "9";
    QTest::newRow("ORTN") << "ORTN" << 32 << "0"
                          << "1F";
    QTest::newRow("REST") << "REST" << 32 << "0"
                          << "1F";
    QTest::newRow("TCAT") << "TCAT" << 12 << "1"
                          << "12";
    QTest::newRow("EQUP") << "EQUP" << 2 << "0"
                          << "1";
}

void TestPages::valueLists() {
    QFETCH(QString, parameter);
    QFETCH(int, count);
    QFETCH(QString, first);
    QFETCH(QString, last);
    WindowRig rig;
    SubscriberSheet& page = *rig.form1->TabSheet1;
    page.ComboBox5->setCurrentIndex(page.ComboBox5->findText(parameter)); // picked from the list
    QCOMPARE(page.ComboBox6->count(), count);
    QCOMPARE(page.ComboBox6->itemText(0), first);
    QCOMPARE(page.ComboBox6->itemText(count - 1), last);
    QVERIFY(page.ComboBox6->currentText().isEmpty());
}

void TestPages::buttonsSendTheirCommands_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("restr") << "restr"
                           << "" << QByteArray("SSD-RSP:2345,REST\r");
    QTest::newRow("restw") << "restw"
                           << "" << QByteArray("SSD-WSP:2345,REST,1A\r");
    QTest::newRow("restw with prefix") << "restw"
                                       << "8" << QByteArray("SSD-WSP:82345,REST,1A\r");
    QTest::newRow("equpr") << "equpr"
                           << "" << QByteArray("SSD-RSP:2345,EQUP\r");
    QTest::newRow("equp1") << "equp1"
                           << "8" << QByteArray("SSD-WSP:82345,EQUP,1\r");
    QTest::newRow("equp0") << "equp0"
                           << "" << QByteArray("SSD-WSP:2345,EQUP,0\r");
    QTest::newRow("ENRRPN") << "ENRRPN"
                            << "" << QByteArray("ENR-RPN:2345\r");
    QTest::newRow("BitBtn5") << "BitBtn5"
                             << "" << QByteArray("SSD-RSP:2345,TCAT\r");
    QTest::newRow("BitBtn2") << "BitBtn2"
                             << "" << QByteArray("SSD-WSP:2345,TCAT,1\r");
    QTest::newRow("BitBtn8") << "BitBtn8"
                             << "" << QByteArray("SSD-WSP:2345,TCAT,0\r");
    QTest::newRow("BitBtn6") << "BitBtn6"
                             << "" << QByteArray("SSD-WSP:2345,TCAT,12\r");
    QTest::newRow("BitBtn10") << "BitBtn10"
                              << "" << QByteArray("DGN-GRD:FF\r");
    QTest::newRow("BitBtn3") << "BitBtn3"
                             << "" << QByteArray("FLM-DSP:0,16\r");
    QTest::newRow("BitBtn4") << "BitBtn4"
                             << "" << QByteArray("RTM-RRT\r");
    QTest::newRow("SpeedButton6") << "SpeedButton6"
                                  << "" << QByteArray("COR-MTA\r");
    QTest::newRow("SpeedButton4") << "SpeedButton4"
                                  << "" << QByteArray("COR-MTW\r");
    QTest::newRow("a long prefix is cut at 40 by the queue")
        << "BitBtn6"
        << "12345678901234567890" << QByteArray("SSD-WSP:123456789012345678902345,TCAT,12\r");
}

// A click on the button with the simulated exchange attached puts exactly its command on
// the line.
void TestPages::buttonsSendTheirCommands() {
    QFETCH(QString, button);
    QFETCH(QString, prefix);
    QFETCH(QByteArray, wire);
    WindowRig rig;
    QVERIFY(rig.openPort());
    SubscriberSheet& page = *rig.form1->TabSheet1;
    rig.form1->Edit1->setText(prefix);
    type(page.ComboBox2, QStringLiteral("2345"));
    type(page.ComboBox3, QStringLiteral("1A"));
    page.ComboBox5->setCurrentText(QStringLiteral("TCAT"));
    page.ComboBox6->setCurrentText(QStringLiteral("12"));
    auto* target = rig.form1->findChild<QAbstractButton*>(button);
    QVERIFY(target && target->isEnabled());
    QTest::mouseClick(target, Qt::LeftButton);
    QCOMPARE(rig.wire(), wire);
    QVERIFY(rig.messages.shown.isEmpty());
}

void TestPages::numberHistory() {
    WindowRig rig;
    QVERIFY(rig.openPort());
    SubscriberSheet& page = *rig.form1->TabSheet1;
    type(page.ComboBox2, QStringLiteral("2345"));
    page.restrClick();
    page.restrClick();
    page.ComboBox5->setCurrentText(QStringLiteral("TCAT"));
    page.ComboBox2->setCurrentText(QStringLiteral("7777"));
    page.BitBtn5Click(); // a parameter command keeps the history as it is
    QCOMPARE(Widgets::list(page.ComboBox2), QStringList{"2345"});
    QCOMPARE(page.ComboBox2->currentText(), QStringLiteral("7777"));
    rig.wire(3);
}

void TestPages::singleModuleRestart() {
    WindowRig rig;
    QVERIFY(rig.openPort());
    SubscriberSheet& page = *rig.form1->TabSheet1;
    rig.form1->FormActivate();
    QVERIFY(!page.INSRST->isEnabled());
    page.ComboBox4->setCurrentIndex(page.ComboBox4->findText(QStringLiteral("0A")));
    QVERIFY(page.INSRST->isEnabled());
    page.INSRSTClick();
    QCOMPARE(rig.wire(), QByteArray("INS-RST:0A,0A\r"));
    QVERIFY(page.ComboBox4->currentText().isEmpty());
    QVERIFY(!page.INSRST->isEnabled());
    QVERIFY(rig.messages.shown.isEmpty());
}

void TestPages::noPortOpen() {
    WindowRig rig;
    SubscriberSheet& page = *rig.form1->TabSheet1;
    type(page.ComboBox2, QStringLiteral("2345"));
    QTest::mouseClick(page.restr, Qt::LeftButton);
    QCOMPARE(rig.messages.shown, QStringList{QStringLiteral("plain:Порт не открыт")});
    QCOMPARE(rig.form1->terminal().queue().count(), 0);
    QCOMPARE(rig.vars.LastCommand.bytes(), QByteArray("SSD-RSP:2345,REST"));
    QCOMPARE(Widgets::list(page.ComboBox2), QStringList{"2345"}); // the number is already kept
}

void TestPages::moduleFirstFieldDrivesRange() {
    WindowRig rig;
    QVERIFY(rig.openPort());
    ModuleSheet& page = *rig.form1->TabSheet2;
    rig.form1->FormActivate();
    const QList<QPushButton*> range{page.insrstm, page.InsRldM, page.InsClbM, page.FlmDsp,
                                    page.FlmDsm};
    QVERIFY(enabledNames(range).isEmpty());
    QVERIFY(page.BitBtn3->isEnabled());
    page.Mod1->setCurrentIndex(page.Mod1->findText(QStringLiteral("05")));
    QCOMPARE(page.Mod2->currentText(), QStringLiteral("05"));
    QCOMPARE(enabledNames(range).size(), 5);
    page.insrstmClick(); // one module: no question
    QCOMPARE(rig.wire(), QByteArray("INS-RST:05,05\r"));
    page.Mod1->setCurrentText(QString());
    QVERIFY(enabledNames(range).isEmpty());
    QVERIFY(page.Mod2->currentText().isEmpty());
}

void TestPages::moduleRangeQuestion_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<QString>("answer"); // "" = no question expected
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("two modules, YES") << "insrstm"
                                      << "03"
                                      << "04"
                                      << "Button1"
                                      << "Выполнить повторный запуск"
                                      << "2 модулей?" << QByteArray("INS-RST:03,04\r");
    QTest::newRow("two modules, Cancel") << "insrstm"
                                         << "03"
                                         << "04"
                                         << "Button2"
                                         << "Выполнить повторный запуск"
                                         << "2 модулей?" << QByteArray();
    QTest::newRow("erase 00 to 16") << "InsClbM"
                                    << "00"
                                    << "16"
                                    << "Button1"
                                    << "Стереть батарейное содержимое"
                                    << "23 модулей?" << QByteArray("INS-CLB:00,16\r");
    QTest::newRow("load") << "InsRldM"
                          << "10"
                          << "16"
                          << "Button1"
                          << "Выполнить загрузку"
                          << "7 модулей?" << QByteArray("INS-RLD:10,16\r");
    QTest::newRow("last below first becomes one module") << "InsRldM"
                                                         << "0A"
                                                         << "07"
                                                         << ""
                                                         << ""
                                                         << "" << QByteArray("INS-RLD:0A,0A\r");
    QTest::newRow("FLM-DSP never asks") << "FlmDsp"
                                        << "00"
                                        << "16"
                                        << ""
                                        << ""
                                        << "" << QByteArray("FLM-DSP:00,16\r");
    QTest::newRow("FLM-DSM never asks") << "FlmDsm"
                                        << "00"
                                        << "16"
                                        << ""
                                        << ""
                                        << "" << QByteArray("FLM-DSM:00,16\r");
    QTest::newRow("an uncountable range is asked about") << "insrstm"
                                                         << "X1"
                                                         << "X2"
                                                         << "Button2"
                                                         << "Выполнить повторный запуск"
                                                         << "? модулей?" << QByteArray();
}

void TestPages::moduleRangeQuestion() {
    QFETCH(QString, button);
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(QString, answer);
    QFETCH(QString, action);
    QFETCH(QString, count);
    QFETCH(QByteArray, wire);
    WindowRig rig;
    QVERIFY(rig.openPort());
    ModuleSheet& page = *rig.form1->TabSheet2;
    page.Mod1->setCurrentText(first);
    page.Mod2->setCurrentText(last);
    rig.vars.LastCommand.assign("BEFORE");
    // What the question showed is noted while it is open and compared once it is closed: a
    // failed compare inside it would leave the modal window open and the test hanging.
    QStringList question;
    int widthOverAction = 0;
    QTimer::singleShot(0, rig.form1.get(), [&] {
        auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!modal)
            return;
        if (modal == rig.formDel.get()) {
            const TFormDel& form = *rig.formDel;
            question = {form.windowTitle(), form.Label1->text(), form.Label2->text(),
                        form.Label3->text()};
            widthOverAction = form.width() - form.Label2->width();
        }
        auto* reply = answer.isEmpty() ? nullptr : modal->findChild<QPushButton*>(answer);
        if (reply)
            reply->click();
        else
            modal->reject(); // a question that should not have come is closed all the same
    });
    QTest::mouseClick(page.findChild<QPushButton*>(button), Qt::LeftButton);
    if (answer.isEmpty()) {
        QCOMPARE(question, QStringList());
    } else {
        QCOMPARE(question, (QStringList{"FormDel", "Вы уверены, что хотите", action, count}));
        if (button == QLatin1String("InsClbM"))
            QCOMPARE(widthOverAction, 32);
    }
    if (wire.isEmpty()) {
        // A queued command would be in the queue now: nothing is.
        QCOMPARE(rig.form1->terminal().queue().count(), 0);
        QVERIFY(rig.form1->terminal().windowMessages().isEmpty());
        QCOMPARE(rig.vars.LastCommand.bytes(),
                 QByteArray("BEFORE")); // a cancelled command is not recalled
    } else {
        QCOMPARE(rig.wire(), wire);
    }
    QVERIFY(page.Mod2->currentText() >= page.Mod1->currentText());
}

void TestPages::clockButtons() {
    WindowRig rig;
    QVERIFY(rig.openPort());
    SystemSheet& page = *rig.form1->TabSheet3;
    const QDateTime monday(QDate(2026, 12, 7), QTime(9, 5, 3, 999));
    page.setClock([&] { return monday; });
    page.BitBtn9Click();
    QCOMPARE(rig.wire(), QByteArray("RTM-URT:1,7,12,26,9,5,3\r"));
    const QDateTime midnight(QDate(2030, 1, 1), QTime(0, 0));
    page.setClock([&] { return midnight; });
    page.BitBtn4Click();
    QCOMPARE(rig.wire(2), QByteArray("RTM-URT:1,7,12,26,9,5,3\rRTM-RRT\r"));
}

void TestPages::clockLabel_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QDateTime>("reading");
    QTest::addColumn<QString>("shown");
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    const QLocale american(QLocale::English, QLocale::UnitedStates);
    const QDateTime monday(QDate(2026, 12, 7), QTime(9, 5, 3, 999));
    const QDateTime late(QDate(2026, 5, 31), QTime(23, 59, 59));
    const QDateTime midnight(QDate(2030, 1, 1), QTime(0, 0));
    QTest::newRow("Russian") << russian << monday << "07.12.2026 09:05:03";
    QTest::newRow("Russian, midnight: the date alone") << russian << midnight << "01.01.2030";
    QTest::newRow("American") << american << monday << "12/7/26 9:05:03 AM";
    QTest::newRow("American, late") << american << late << "5/31/26 11:59:59 PM";
    QTest::newRow("American, midnight: the date alone") << american << midnight << "1/1/30";
}

// Both clock buttons show the computer's date and time in the short date and long time
// formats of the system's language (here a chosen one), without the time zone.
void TestPages::clockLabel() {
    QFETCH(QLocale, locale);
    QFETCH(QDateTime, reading);
    QFETCH(QString, shown);
    WindowRig rig;
    SystemSheet& page = *rig.form1->TabSheet3;
    page.setLocale(locale);
    page.setClock([&] { return reading; });
    page.BitBtn9Click(); // with no port open the label changes all the same
    QCOMPARE(page.Label1->text(), shown);
    page.Label1->clear();
    page.BitBtn4Click();
    QCOMPARE(page.Label1->text(), shown);
}

QTEST_MAIN(TestPages)
#include "tst_pages.moc"
