#include "DispatcherRig.h"
#include "Fakes.h"
#include "HttpProbe.h"
#include "Probes.h"
#include "app/Station.h"
#include "app/TForm1.h"
#include "dispatch/Terminal.h"
#include "shared/Cp1251.h"
#include "shared/Vars.h"
#include "shared/Widgets.h"
#include "web/TFormWeb.h"
#include "web/WebService.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using List = WebAccessList::List;

const QColor GREEN(0, 128, 0);
const QColor RED(255, 0, 0);
const QColor BLUE(0, 0, 255);

QColor buttonFace() {
    return QApplication::style()->standardPalette().color(QPalette::Button);
}

// The main window on a fake port and the web window over a folder of the test's own,
// listening on a free port.
struct Windows {
    QTemporaryDir dir;
    Vars vars;
    RecordingMessages messages;
    std::unique_ptr<Station> station;
    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TFormWeb> web;

    explicit Windows(const QMap<QString, QByteArray>& files = {}, int port = 0) {
        for (auto file = files.begin(); file != files.end(); ++file)
            write(file.key(), file.value());
        write("WEB/index.html", "login page");
        station = std::make_unique<Station>(
            vars, messages,
            Station::Settings{
                std::make_unique<FakeSerialDevice>(), dir.path(), HttpSettings{port}, {}});
        form1 = std::make_unique<TForm1>(*station, messages);
        web = std::make_unique<TFormWeb>(station->web(), messages, dir.path(), form1.get());
        form1->setWebWindow(web.get());
    }
    ~Windows() {
        web.reset();
        form1.reset();
        station.reset();
    }
    void write(const QString& name, const QByteArray& bytes) {
        if (!writeFile(dir.filePath(name), bytes))
            qFatal("cannot write %s", qPrintable(name));
    }
    QByteArray read(const QString& name) const { return readFile(dir.filePath(name)); }
    HttpProbe client(int n) const {
        return HttpProbe(web->service().port(), "127.0.0." + QByteArray::number(n));
    }
    QStringList shown(const QListWidget* box) const {
        QStringList items;
        for (int row = 0; row < box->count(); ++row)
            items << box->item(row)->text();
        return items;
    }
    int selected(const QListWidget* box) const {
        const auto items = box->selectedItems();
        return items.isEmpty() ? -1 : box->row(items.first());
    }
    QStringList gridRow(int row) const {
        QStringList cells;
        for (int column = 0; column < 2; ++column) {
            const auto* cell = web->StringGrid1->item(row, column);
            cells << (cell ? cell->text() : QString());
        }
        return cells;
    }
    QColor lamp() const { return form1->Panel4->palette().color(QPalette::Window); }
    QColor switchCaption() const {
        return form1->BitBtn11->palette().color(QPalette::Active, QPalette::ButtonText);
    }
    void click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); }
};

// Key presses that carry any character, Cyrillic ones too (keyClicks knows only ASCII keys).
void typeCharacters(QWidget* widget, const QString& text) {
    for (const QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(widget, &press);
    }
}

QRect designRect(const QWidget* widget, const QRect& design) {
    const double scale = widget->logicalDpiY() / 120.0;
    return QRect(qRound(design.x() * scale), qRound(design.y() * scale),
                 qRound(design.width() * scale), qRound(design.height() * scale));
}

} // namespace

class TestWebWindow : public QObject {
    Q_OBJECT
private slots:
    void layout_data();
    void layout();
    void gridAndWindow();
    void loadsListsAtCreation_data();
    void loadsListsAtCreation();
    void passwordButtons();
    void passwordThatCannotBeTypedIsRefused_data();
    void passwordThatCannotBeTypedIsRefused();
    void permittedButtons();
    void closeWritesChangedListsOnly_data();
    void closeWritesChangedListsOnly();
    void failedWriteKeepsListAndFlag();
    void webMenuOnOpenWindowKeepsChanges();
    void webMenuShowsWindowAndClearsFlags();
    void gridLampAndSwitchFollowTheSlots();
    void listenFailureAtStartUp();
    void diagnosticPanels();
};

void TestWebWindow::layout_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("design");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("hint");
    QTest::newRow("ToolBar1") << "ToolBar1" << QRect(0, 0, 620, 29) << ""
                              << "";
    QTest::newRow("StringGrid1") << "StringGrid1" << QRect(8, 37, 330, 130) << ""
                                 << "";
    QTest::newRow("Label1") << "Label1" << QRect(352, 37, 120, 16) << "Пароли"
                            << "";
    QTest::newRow("ListBox1") << "ListBox1" << QRect(352, 55, 260, 112) << ""
                              << "";
    QTest::newRow("SpeedButton2") << "SpeedButton2" << QRect(352, 175, 25, 25) << ""
                                  << "Delete";
    QTest::newRow("Edit1") << "Edit1" << QRect(382, 175, 198, 25) << ""
                           << "";
    QTest::newRow("SpeedButton1") << "SpeedButton1" << QRect(587, 175, 25, 25) << ""
                                  << "Add";
    QTest::newRow("Label2") << "Label2" << QRect(8, 210, 160, 16) << "Все команды"
                            << "";
    QTest::newRow("ListBox2") << "ListBox2" << QRect(8, 228, 160, 200) << ""
                              << "";
    QTest::newRow("SpeedButton3") << "SpeedButton3" << QRect(176, 290, 32, 28) << ""
                                  << "";
    QTest::newRow("SpeedButton4") << "SpeedButton4" << QRect(176, 330, 32, 28) << ""
                                  << "";
    QTest::newRow("Label3") << "Label3" << QRect(216, 210, 160, 16) << "Разр. команды"
                            << "";
    QTest::newRow("ListBox3") << "ListBox3" << QRect(216, 228, 160, 200) << ""
                              << "";
    QTest::newRow("Panel1") << "Panel1" << QRect(392, 228, 220, 30) << "CSession"
                            << "";
    QTest::newRow("Panel2") << "Panel2" << QRect(392, 266, 220, 30) << "CSession"
                            << "";
}

void TestWebWindow::layout() {
    QFETCH(QString, name);
    QFETCH(QRect, design);
    QFETCH(QString, text);
    QFETCH(QString, hint);
    Windows w;
    auto* widget = w.web->findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(QRect(widget->mapTo(w.web.get(), QPoint(0, 0)), widget->size()),
             designRect(w.web.get(), design));
    QCOMPARE(widget->toolTip(), hint);
    if (!text.isEmpty())
        QCOMPARE(widget->property("text").toString(), text);
    if (name.startsWith("Label") || name == "Edit1") // green text
        QCOMPARE(widget->palette().color(QPalette::Active,
                                         name == "Edit1" ? QPalette::Text : QPalette::WindowText),
                 GREEN);
}

void TestWebWindow::gridAndWindow() {
    Windows w;
    TFormWeb& web = *w.web;
    QCOMPARE(web.windowTitle(), QStringLiteral("FormWeb"));
    QCOMPARE(web.size(), designRect(&web, QRect(0, 0, 620, 440)).size());
    QVERIFY(!web.isVisible()); // created hidden
    QVERIFY(!web.isModal());
    QCOMPARE(web.StringGrid1->rowCount(), 4); // and the header row
    QCOMPARE(web.StringGrid1->columnCount(), 3);
    const int widths[] = {123, 49, 150};
    for (int column = 0; column < 3; ++column)
        QCOMPARE(web.StringGrid1->columnWidth(column),
                 designRect(&web, QRect(0, 0, widths[column], 1)).width());
    QCOMPARE(web.StringGrid1->horizontalHeaderItem(0)->text(), QStringLiteral("IP"));
    QCOMPARE(web.StringGrid1->horizontalHeaderItem(1)->text(), QStringLiteral("S"));
    QCOMPARE(web.StringGrid1->horizontalHeaderItem(2)->text(), QString());
    QCOMPARE(web.StringGrid1->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(web.Edit1->maxLength(), 16);
    QVERIFY(!web.SpeedButton2->isEnabled());
    QVERIFY(!web.SpeedButton3->isEnabled());
    QVERIFY(!web.SpeedButton4->isEnabled());
    QVERIFY(web.ToolButton1->isEnabled() && web.ToolButton2->isEnabled());
    QVERIFY(w.form1->Web1->isEnabled());
    QVERIFY(w.form1->BitBtn11->isEnabled());
    QVERIFY(w.form1->BitBtn11->font().bold());
}

void TestWebWindow::loadsListsAtCreation_data() {
    QTest::addColumn<bool>("present");
    QTest::newRow("all three files") << true;
    QTest::newRow("no files") << false;
}

void TestWebWindow::loadsListsAtCreation() {
    QFETCH(bool, present);
    QMap<QString, QByteArray> files;
    if (present)
        files = {{"Password", "one\r\n\xEF\xE0\xF0\r\n"},
                 {"Command", "SSD-RSP\nRTM-RRT\n"},
                 {"CommandWeb", "RTM-RRT"}};
    Windows w(files);
    TFormWeb& web = *w.web;
    if (!present) {
        QCOMPARE(web.ListBox1->count() + web.ListBox2->count() + web.ListBox3->count(), 0);
        QVERIFY(!web.SpeedButton2->isEnabled() && !web.SpeedButton3->isEnabled() &&
                !web.SpeedButton4->isEnabled());
        return;
    }
    QCOMPARE(w.shown(web.ListBox1), (QStringList{"one", "пар"}));
    QCOMPARE(w.shown(web.ListBox2), (QStringList{"SSD-RSP", "RTM-RRT"}));
    QCOMPARE(w.shown(web.ListBox3), QStringList{"RTM-RRT"});
    for (const QListWidget* box : {web.ListBox1, web.ListBox2, web.ListBox3})
        QCOMPARE(w.selected(box), 0);
    QVERIFY(web.SpeedButton2->isEnabled() && web.SpeedButton3->isEnabled() &&
            web.SpeedButton4->isEnabled());
    QCOMPARE(web.service().lists().entries(List::Passwords), (EntryList{"one", "\xEF\xE0\xF0"}));
    QCOMPARE(web.PasswordsChanged + web.PermittedChanged, 0); // loading is no change
}

void TestWebWindow::passwordButtons() {
    Windows w;
    TFormWeb& web = *w.web;
    w.click(web.SpeedButton1); // nothing typed: nothing happens
    QCOMPARE(web.ListBox1->count(), 0);
    QCOMPARE(web.PasswordsChanged, 0);

    typeCharacters(web.Edit1, QStringLiteral("пароль-1234567890123"));
    QCOMPARE(web.Edit1->text(), QStringLiteral("пароль-123456789")); // 16 characters
    w.click(web.SpeedButton1);
    QCOMPARE(w.shown(web.ListBox1), QStringList{"пароль-123456789"});
    QCOMPARE(w.selected(web.ListBox1), 0);
    QVERIFY(web.SpeedButton2->isEnabled()); // the first entry enables Delete
    QCOMPARE(web.PasswordsChanged, 1);
    QCOMPARE(web.Edit1->text(), QStringLiteral("пароль-123456789")); // the field keeps its text
    QCOMPARE(web.service().lists().entries(List::Passwords).first(),
             Cp1251::fromUnicode(QStringLiteral("пароль-123456789")));

    for (int n = 2; n <= 13; ++n) { // no duplicate check; the 13th is refused
        web.Edit1->setText(QStringLiteral("pw%1").arg(n));
        w.click(web.SpeedButton1);
    }
    QCOMPARE(web.ListBox1->count(), 12);
    QCOMPARE(web.ListBox1->item(11)->text(), QStringLiteral("pw12"));
    QCOMPARE(w.selected(web.ListBox1), 11);

    web.ListBox1->item(3)->setSelected(true);
    w.click(web.SpeedButton2);
    QCOMPARE(web.ListBox1->count(), 11);
    QVERIFY(!w.shown(web.ListBox1).contains("pw4"));
    QCOMPARE(w.selected(web.ListBox1), 10); // the last one is selected afterwards
    web.Edit1->setText(QStringLiteral("again"));
    w.click(web.SpeedButton1); // room for one again
    QCOMPARE(web.ListBox1->count(), 12);

    while (web.ListBox1->count() > 0)
        w.click(web.SpeedButton2);
    QVERIFY(!web.SpeedButton2->isEnabled());
    QVERIFY(web.service().lists().entries(List::Passwords).isEmpty());
}

// A password that no one could give on the login page (the login drops spaces and control
// characters, the page speaks code page 1251) is refused with a word why; the list and the
// typed text stay as they were.
void TestWebWindow::passwordThatCannotBeTypedIsRefused_data() {
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("added");
    QTest::newRow("a space") << QStringLiteral("pass word") << false;
    QTest::newRow("a tab") << QStringLiteral("pass\tword") << false;
    QTest::newRow("a line break") << QStringLiteral("pass\nword") << false;
    QTest::newRow("DEL") << QStringLiteral("pass\x7Fword") << false;
    QTest::newRow("a control character of the upper half")
        << QString(QStringLiteral("pass") + QChar(0x98)) << false;
    QTest::newRow("a character code page 1251 has not") << QStringLiteral("пароль✓") << false;
    QTest::newRow("Cyrillic, digits and signs") << QStringLiteral("Пароль-№1!") << true;
    QTest::newRow("the euro sign is in code page 1251") << QStringLiteral("€uro") << true;
}

void TestWebWindow::passwordThatCannotBeTypedIsRefused() {
    QFETCH(QString, password);
    QFETCH(bool, added);
    Windows w({{"Password", "one\r\n"}});
    TFormWeb& web = *w.web;
    web.Edit1->setText(password);
    w.click(web.SpeedButton1);
    QCOMPARE(web.Edit1->text(), password);
    if (added) {
        QCOMPARE(w.shown(web.ListBox1), (QStringList{"one", password}));
        QCOMPARE(web.PasswordsChanged, 1);
        QVERIFY(w.messages.shown.isEmpty());
        return;
    }
    QCOMPARE(w.messages.shown.size(), 1);
    QVERIFY2(w.messages.shown.first().startsWith(QStringLiteral("plain:Пароль не добавлен")),
             qPrintable(w.messages.shown.first()));
    QCOMPARE(w.shown(web.ListBox1), QStringList{"one"});
    QCOMPARE(web.service().lists().entries(List::Passwords), EntryList{"one"});
    QCOMPARE(web.PasswordsChanged, 0);
}

void TestWebWindow::permittedButtons() {
    Windows w({{"Command", "SSD-RSP\r\nRTM-RRT\r\nINS-RST\r\n"}});
    TFormWeb& web = *w.web;
    QVERIFY(!web.SpeedButton4->isEnabled());
    web.ListBox2->item(1)->setSelected(true);
    w.click(web.SpeedButton3);
    w.click(web.SpeedButton3); // no duplicate check
    web.ListBox2->clearSelection();
    web.ListBox2->item(0)->setSelected(true);
    w.click(web.SpeedButton3);
    QCOMPARE(w.shown(web.ListBox3), (QStringList{"RTM-RRT", "RTM-RRT", "SSD-RSP"}));
    QCOMPARE(web.ListBox3->selectedItems().size(), 1); // the selection moved, not grew
    QCOMPARE(w.selected(web.ListBox3), 2);             // to the new last entry
    QVERIFY(web.SpeedButton4->isEnabled());
    QCOMPARE(web.PermittedChanged, 1);
    QCOMPARE(w.shown(web.ListBox2).size(), 3); // the catalogue is unchanged
    QVERIFY(web.service().lists().commandPermitted("RTM-RRT"));

    w.click(web.SpeedButton4); // the selected one goes
    QCOMPARE(w.shown(web.ListBox3), (QStringList{"RTM-RRT", "RTM-RRT"}));
    QVERIFY(!web.service().lists().commandPermitted("SSD-RSP"));
    web.ListBox3->item(0)->setSelected(true);
    w.click(web.SpeedButton4);
    QCOMPARE(w.shown(web.ListBox3), QStringList{"RTM-RRT"});
    QCOMPARE(w.selected(web.ListBox3), -1); // nothing selected afterwards
    QVERIFY(web.SpeedButton4->isEnabled());
    w.click(web.SpeedButton4); // nothing selected: nothing removed
    QCOMPARE(web.ListBox3->count(), 1);
    web.ListBox3->item(0)->setSelected(true);
    w.click(web.SpeedButton4);
    QCOMPARE(web.ListBox3->count(), 0);
    QVERIFY(!web.SpeedButton4->isEnabled());
    QVERIFY(!web.service().lists().commandPermitted("RTM-RRT")); // effective at once

    web.ListBox2->item(2)->setSelected(true);
    w.click(web.SpeedButton3);
    QVERIFY(web.SpeedButton4->isEnabled()); // one entry again
}

void TestWebWindow::closeWritesChangedListsOnly_data() {
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("commandWeb");
    QTest::newRow("nothing changed: nothing written")
        << "" << QByteArray("old\n") << QByteArray("OLD-OLD");
    QTest::newRow("a password added")
        << "add" << QByteArray("old\r\nnew\r\n") << QByteArray("OLD-OLD");
    QTest::newRow("added and deleted: written all the same")
        << "add delete" << QByteArray("old\r\n") << QByteArray("OLD-OLD");
    QTest::newRow("the last permitted command withdrawn: an empty file")
        << "withdraw" << QByteArray("old\n") << QByteArray("");
}

void TestWebWindow::closeWritesChangedListsOnly() {
    QFETCH(QString, edit);
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, commandWeb);
    Windows w({{"Password", "old\n"}, {"CommandWeb", "OLD-OLD"}, {"Command", "X\n"}});
    TFormWeb& web = *w.web;
    w.form1->Web1->trigger();
    if (edit.contains("add")) {
        web.Edit1->setText("new");
        w.click(web.SpeedButton1);
    }
    if (edit.contains("delete"))
        w.click(web.SpeedButton2);
    if (edit.contains("withdraw"))
        w.click(web.SpeedButton4);
    web.close();
    QCOMPARE(w.read("Password"), password);
    QCOMPARE(w.read("CommandWeb"), commandWeb);
    QCOMPARE(w.read("Command"), QByteArray("X\n")); // never written
    QVERIFY(w.messages.shown.isEmpty());
    if (edit.contains("add")) {
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(w.dir.filePath("Password")).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0600)); // passwords are kept in clear
    }
}

// A list that could not be written keeps its flag through the menu item "Web": every close
// of the window tries again and says so again, until a write succeeds.
void TestWebWindow::failedWriteKeepsListAndFlag() {
    Windows w;
    TFormWeb& web = *w.web;
    QVERIFY(QDir(w.dir.path()).mkdir("Password")); // the file cannot be made
    w.form1->Web1->trigger();
    web.Edit1->setText("secret");
    w.click(web.SpeedButton1);
    web.close();
    QCOMPARE(w.messages.shown.size(), 1);
    const QString box = w.messages.shown.first();
    QVERIFY2(box.startsWith("failure:") && box.contains(w.dir.filePath("Password")),
             qPrintable(box));
    QCOMPARE(web.PasswordsChanged, 1);
    QCOMPARE(web.service().lists().entries(List::Passwords), EntryList{"secret"});
    w.form1->Web1->trigger();
    web.close();
    QCOMPARE(w.messages.shown.size(), 2); // tried again, failed again
    QCOMPARE(web.PasswordsChanged, 1);
    QVERIFY(QDir(w.dir.path()).rmdir("Password"));
    w.form1->Web1->trigger();
    web.close();
    QCOMPARE(w.read("Password"), QByteArray("secret\r\n"));
    QCOMPARE(web.PasswordsChanged, 0);
    QVERIFY(QFile::remove(w.dir.filePath("Password")));
    w.form1->Web1->trigger();
    web.close(); // written once: nothing to write any more
    QCOMPARE(w.read("Password"), QByteArray("(missing)"));
    QCOMPARE(w.messages.shown.size(), 2);
}

// "Web" while the window is open only brings it to the front: what was changed is still
// written when it closes.
void TestWebWindow::webMenuOnOpenWindowKeepsChanges() {
    Windows w({{"CommandWeb", "OLD-OLD\r\n"}});
    TFormWeb& web = *w.web;
    w.form1->Web1->trigger();
    web.ListBox3->item(0)->setSelected(true);
    w.click(web.SpeedButton4);
    w.form1->Web1->trigger();
    QVERIFY(web.isVisible());
    web.close();
    QCOMPARE(w.read("CommandWeb"), QByteArray());
}

void TestWebWindow::webMenuShowsWindowAndClearsFlags() {
    Windows w;
    w.form1->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.form1.get()));
    w.web->PasswordsChanged = 1;
    w.web->PermittedChanged = 1;
    QVERIFY(w.form1->Web1->isEnabled());
    w.form1->Web1->trigger();
    QVERIFY(w.web->isVisible());
    QCOMPARE(w.web->PasswordsChanged + w.web->PermittedChanged, 0);
    QVERIFY(!w.web->isModal());
    const QPoint offset = w.web->frameGeometry().center() - w.form1->frameGeometry().center();
    QVERIFY2(offset.manhattanLength() <= 20, "centred over the main window");
}

void TestWebWindow::gridLampAndSwitchFollowTheSlots() {
    Windows w;
    endWebReply(w.station->dispatcher());
    QCOMPARE(w.switchCaption(), RED); // listening from the start
    QCOMPARE(w.lamp(), buttonFace());
    QCOMPARE(w.client(2).get("/").body, QByteArray("login page"));
    QTRY_COMPARE_WITH_TIMEOUT(w.gridRow(0), (QStringList{"127.0.0.2", "1"}), PROMPT_MS);
    QCOMPARE(w.lamp(), RED);
    w.client(3).get("/");
    w.client(3).post("Password=x"); // no passwords: logged in
    QTRY_COMPARE_WITH_TIMEOUT(w.gridRow(1), (QStringList{"127.0.0.3", "2"}), PROMPT_MS);
    QCOMPARE(w.gridRow(2), (QStringList{"", ""}));

    w.web->service().webSlots().expire(SlotClock::now() + std::chrono::seconds(31));
    QTRY_COMPARE(w.gridRow(0), (QStringList{"", ""})); // the unlogged one went
    QCOMPARE(w.gridRow(1), (QStringList{"127.0.0.3", "2"}));
    QCOMPARE(w.lamp(), RED);

    w.click(w.form1->BitBtn11); // off
    QCOMPARE(w.switchCaption(), BLUE);
    QCOMPARE(w.gridRow(1), (QStringList{"", ""}));
    QCOMPARE(w.lamp(), buttonFace());
    QCOMPARE(w.station->dispatcher().WebReplyReady(), 0);
    QCOMPARE(w.client(3).get("/").status, 0); // nobody listens
    w.click(w.form1->BitBtn11);               // on again, with four free slots
    QCOMPARE(w.switchCaption(), RED);
    QCOMPARE(w.web->service().webSlots().ConnectionCount(), 0);
    QCOMPARE(w.client(3).get("/").body, QByteArray("login page"));
    QVERIFY(w.messages.shown.isEmpty());
}

void TestWebWindow::listenFailureAtStartUp() {
    const int taken = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    QCOMPARE(::bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    QCOMPARE(::listen(taken, 1), 0);
    socklen_t length = sizeof address;
    ::getsockname(taken, reinterpret_cast<sockaddr*>(&address), &length);
    {
        Windows w({}, ntohs(address.sin_port));
        QCOMPARE(w.messages.shown, QStringList{"failure:Address already in use"});
        QVERIFY(!w.web->service().isListening());
        QCOMPARE(w.switchCaption(), BLUE);
        w.click(w.form1->BitBtn11); // still taken: said again, still off
        QCOMPARE(w.messages.shown.size(), 2);
        QCOMPARE(w.switchCaption(), BLUE);
        ::close(taken);
        w.click(w.form1->BitBtn11);
        QCOMPARE(w.switchCaption(), RED);
        QVERIFY(w.web->service().isListening());
    }
}

void TestWebWindow::diagnosticPanels() {
    Windows w;
    w.client(4).get("/");
    w.client(5).get("/");
    endWebReply(w.station->dispatcher());
    QCOMPARE(w.web->Panel1->text(), QStringLiteral("CSession"));
    w.click(w.web->Panel1);
    QCOMPARE(w.web->Panel1->text(), QStringLiteral("2"));
    w.click(w.web->Panel2);
    QCOMPARE(w.web->Panel2->text(), QStringLiteral("1"));
    w.client(6).get("/");
    QCOMPARE(w.web->Panel1->text(), QStringLiteral("2")); // shown only when clicked
}

QTEST_MAIN(TestWebWindow)
#include "tst_webwindow.moc"
