#include "web/TFormWeb.h"

#include "shared/Cp1251.h"
#include "shared/DesignScale.h"
#include "shared/Faces.h"
#include "shared/OperatorMessages.h"
#include "shared/Widgets.h"
#include "web/WebService.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QStyle>
#include <QTableWidget>
#include <QToolButton>

namespace {

using List = WebAccessList::List;

const QColor GREEN(0, 128, 0);
constexpr int GRID_ROWS = 5; // the header and the four slots
constexpr int GRID_COLUMNS[] = {123, 49, 150};
constexpr int GRID_ROW_HEIGHT = 24;

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text) {
    QLabel* label = Widgets::label(parent, name, text);
    Widgets::setTextColour(label, GREEN);
    return label;
}

QListWidget* makeListBox(QWidget* parent, const char* name) {
    auto* box = new QListWidget(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setSelectionMode(QAbstractItemView::SingleSelection);
    return box;
}

QToolButton* makeButton(QWidget* parent, const char* name, QStyle::StandardPixmap glyph,
                        const QString& hint) {
    QToolButton* button = Widgets::toolButton(parent, name, {}, hint);
    button->setIcon(parent->style()->standardIcon(glyph));
    return button;
}

int selectedRow(const QListWidget* box) {
    const auto selected = box->selectedItems();
    return selected.isEmpty() ? -1 : box->row(selected.first());
}

void selectRow(QListWidget* box, int row) {
    box->clearSelection();
    if (row >= 0 && row < box->count()) {
        box->setCurrentRow(row);
        box->item(row)->setSelected(true);
    }
}

} // namespace

TFormWeb::TFormWeb(WebService& service, OperatorMessages& messages, const QString& workingDirectory,
                   QWidget* parent)
    : QWidget(parent, Qt::Window), m_service(service), m_messages(messages),
      m_workingDirectory(workingDirectory) {
    setObjectName(QStringLiteral("TFormWeb"));
    setWindowTitle(QStringLiteral("FormWeb"));
    connect(&m_service, &WebService::slotsChanged, this, &TFormWeb::showSlots);
    buildControls();
    FormCreate();
    startServer();
}

TFormWeb::~TFormWeb() = default;

void TFormWeb::buildControls() {
    const DesignScale scale(*this);
    setFixedSize(scale(CLIENT_WIDTH), scale(CLIENT_HEIGHT));
    setFont(Faces::designFont(QStringLiteral("MS Sans Serif"), 13, scale.factor()));

    auto* bar = new QFrame(this);
    bar->setFrameStyle(QFrame::Panel | QFrame::Raised);
    ToolBar1 = bar;
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    scale.place(ToolBar1, 0, 0, CLIENT_WIDTH, 29);
    ToolButton1 = makeButton(ToolBar1, "ToolButton1", QStyle::SP_ComputerIcon, {});
    scale.place(ToolButton1, 4, 3, 23, 22);
    ToolButton2 = makeButton(ToolBar1, "ToolButton2", QStyle::SP_DriveNetIcon, {});
    scale.place(ToolButton2, 27, 3, 23, 22);

    StringGrid1 = new QTableWidget(GRID_ROWS - 1, 3, this);
    StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->setSelectionMode(QAbstractItemView::NoSelection);
    StringGrid1->verticalHeader()->hide();
    StringGrid1->verticalHeader()->setDefaultSectionSize(scale(GRID_ROW_HEIGHT));
    StringGrid1->horizontalHeader()->setFixedHeight(scale(GRID_ROW_HEIGHT));
    StringGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    for (int column = 0; column < 3; ++column)
        StringGrid1->setColumnWidth(column, scale(GRID_COLUMNS[column]));
    scale.place(StringGrid1, 8, 37, 330, 130);

    Label1 = makeLabel(this, "Label1", QStringLiteral("Пароли"));
    scale.place(Label1, 352, 37, 120, 16);
    ListBox1 = makeListBox(this, "ListBox1");
    ListBox1->setFlow(QListView::TopToBottom); // two columns, filled downwards
    ListBox1->setWrapping(true);
    ListBox1->setResizeMode(QListView::Adjust);
    ListBox1->setGridSize(QSize(scale(126), ListBox1->fontMetrics().height() + scale(3)));
    scale.place(ListBox1, 352, 55, 260, 112);

    SpeedButton2 =
        makeButton(this, "SpeedButton2", QStyle::SP_DialogDiscardButton, QStringLiteral("Delete"));
    scale.place(SpeedButton2, 352, 175, 25, 25);
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setMaxLength(PASSWORD_CHARACTERS);
    Widgets::setTextColour(Edit1, GREEN);
    scale.place(Edit1, 382, 175, 198, 25);
    SpeedButton1 =
        makeButton(this, "SpeedButton1", QStyle::SP_FileDialogNewFolder, QStringLiteral("Add"));
    scale.place(SpeedButton1, 587, 175, 25, 25);

    Label2 = makeLabel(this, "Label2", QStringLiteral("Все команды"));
    scale.place(Label2, 8, 210, 160, 16);
    ListBox2 = makeListBox(this, "ListBox2");
    scale.place(ListBox2, 8, 228, 160, 200);
    SpeedButton3 = makeButton(this, "SpeedButton3", QStyle::SP_ArrowRight, {});
    scale.place(SpeedButton3, 176, 290, 32, 28);
    SpeedButton4 = makeButton(this, "SpeedButton4", QStyle::SP_ArrowLeft, {});
    scale.place(SpeedButton4, 176, 330, 32, 28);
    Label3 = makeLabel(this, "Label3", QStringLiteral("Разр. команды"));
    scale.place(Label3, 216, 210, 160, 16);
    ListBox3 = makeListBox(this, "ListBox3");
    scale.place(ListBox3, 216, 228, 160, 200);

    Panel1 = Widgets::panel(this, "Panel1", QStringLiteral("CSession"));
    scale.place(Panel1, 392, 228, 220, 30);
    Panel2 = Widgets::panel(this, "Panel2", QStringLiteral("CSession"));
    scale.place(Panel2, 392, 266, 220, 30);
    Panel1->installEventFilter(this);
    Panel2->installEventFilter(this);

    SpeedButton2->setEnabled(false);
    SpeedButton3->setEnabled(false);
    SpeedButton4->setEnabled(false);
    connect(SpeedButton1, &QToolButton::clicked, this, &TFormWeb::SpeedButton1Click);
    connect(SpeedButton2, &QToolButton::clicked, this, &TFormWeb::SpeedButton2Click);
    connect(SpeedButton3, &QToolButton::clicked, this, &TFormWeb::SpeedButton3Click);
    connect(SpeedButton4, &QToolButton::clicked, this, &TFormWeb::SpeedButton4Click);
}

// Each list file that exists replaces its list; a list that is not empty has its first
// entry selected and its button enabled. Then the grid's header.
void TFormWeb::FormCreate() {
    const struct {
        List list;
        QListWidget* box;
        QToolButton* button;
    } lists[] = {{List::Passwords, ListBox1, SpeedButton2},
                 {List::AllCommands, ListBox2, SpeedButton3},
                 {List::Permitted, ListBox3, SpeedButton4}};
    for (const auto& [list, box, button] : lists) {
        const QString file = m_workingDirectory.filePath(ListFiles::fileName(list));
        if (QFileInfo::exists(file))
            m_service.lists().replace(list, ListFiles::read(file));
        showList(box, list);
        if (box->count() > 0) {
            selectRow(box, 0);
            button->setEnabled(true);
        }
    }
    StringGrid1->setHorizontalHeaderLabels({QStringLiteral("IP"), QStringLiteral("S"), QString()});
    showSlots();
}

void TFormWeb::startServer() {
    const QString failure = m_service.switchOn();
    if (!failure.isEmpty())
        m_messages.failure(failure);
}

// Opening the window starts a new round of changes. A list whose last write failed keeps
// its flag, so that the next close writes it again; a window that is already open is only
// brought to the front, its changes still to be written.
void TFormWeb::Web1Click() {
    if (!isVisible()) {
        if (!m_writeFailed[int(List::Passwords)])
            PasswordsChanged = 0;
        if (!m_writeFailed[int(List::Permitted)])
            PermittedChanged = 0;
    }
    show();
    raise();
    activateWindow();
}

// Add: a typed password while fewer than 12 are kept; no duplicate check. A password that
// no one could give on the login page is refused with a word why; the typed text stays for
// the operator to mend.
void TFormWeb::SpeedButton1Click() {
    if (Edit1->text().isEmpty() ||
        m_service.lists().snapshot(List::Passwords)->size() >= PASSWORD_LIMIT)
        return;
    if (!WebAccessList::canBeTyped(Edit1->text())) {
        m_messages.plain(QStringLiteral(
            "Пароль не добавлен: пробелы, управляющие знаки и знаки, которых нет в кодовой "
            "странице 1251, на странице входа ввести нельзя."));
        return;
    }
    append(List::Passwords, ListBox1, SpeedButton2, Cp1251::fromUnicode(Edit1->text()));
    PasswordsChanged = 1;
}

// Delete: the selected password; the last one is selected afterwards.
void TFormWeb::SpeedButton2Click() {
    const int row = selectedRow(ListBox1);
    if (row < 0)
        return;
    if (remove(List::Passwords, ListBox1, SpeedButton2, row))
        selectRow(ListBox1, ListBox1->count() - 1);
    PasswordsChanged = 1;
}

// The selected command of the catalogue becomes permitted; no duplicate check.
void TFormWeb::SpeedButton3Click() {
    const int row = selectedRow(ListBox2);
    if (row < 0)
        return;
    append(List::Permitted, ListBox3, SpeedButton4,
           m_service.lists().snapshot(List::AllCommands)->at(row));
    PermittedChanged = 1;
}

// The selected permitted command is withdrawn; nothing is selected afterwards.
void TFormWeb::SpeedButton4Click() {
    remove(List::Permitted, ListBox3, SpeedButton4, selectedRow(ListBox3));
    ListBox3->clearSelection();
    PermittedChanged = 1;
}

// The entry becomes the list's new last one, selected; the list's button is enabled when
// the entry is its first.
void TFormWeb::append(List list, QListWidget* box, QToolButton* button, const QByteArray& entry) {
    EntryList entries = m_service.lists().entries(list);
    entries.append(entry);
    m_service.lists().replace(list, entries);
    showList(box, list);
    selectRow(box, box->count() - 1);
    if (entries.size() == 1)
        button->setEnabled(true);
}

// Removes the entry at `row` (nothing when it is -1); the list's button is disabled when
// the list is left empty. True while entries remain.
bool TFormWeb::remove(List list, QListWidget* box, QToolButton* button, int row) {
    EntryList entries = m_service.lists().entries(list);
    if (row >= 0)
        entries.removeAt(row);
    m_service.lists().replace(list, entries);
    showList(box, list);
    if (entries.isEmpty())
        button->setEnabled(false);
    return !entries.isEmpty();
}

// The changed lists are written back; a list that cannot be written stays changed, so
// that the next close tries again.
void TFormWeb::FormClose() {
    saveList(List::Passwords, PasswordsChanged);
    saveList(List::Permitted, PermittedChanged);
}

void TFormWeb::saveList(List list, std::uint8_t& changed) {
    if (changed != 1)
        return;
    const QString name = ListFiles::fileName(list);
    const QString failure =
        ListFiles::write(m_workingDirectory.filePath(name), m_service.lists().entries(list),
                         list == List::Passwords);
    m_writeFailed[int(list)] = !failure.isEmpty();
    if (failure.isEmpty()) {
        changed = 0;
        return;
    }
    m_messages.failure(
        QStringLiteral("Файл «%1» не записан: %2\nСписок остаётся в памяти.")
            .arg(QDir::toNativeSeparators(m_workingDirectory.absoluteFilePath(name)), failure));
}

void TFormWeb::Panel1Click() {
    Panel1->setText(QString::number(m_service.webSlots().ConnectionCount()));
}

void TFormWeb::Panel2Click() {
    Panel2->setText(QString::number(m_service.WebReplyReady()));
}

void TFormWeb::showSlots() {
    const auto table = m_service.webSlots().table();
    for (int slot = 0; slot < WebSlots::SLOT_COUNT; ++slot) {
        const bool occupied = table[slot].state != SlotFree;
        const QString address = Cp1251::toUnicode(table[slot].address.view());
        const QString state = occupied ? QString::number(table[slot].state) : QString();
        for (const auto& [column, text] : {std::pair{0, address}, std::pair{1, state}}) {
            auto* cell = StringGrid1->item(slot, column);
            if (!cell)
                StringGrid1->setItem(slot, column, cell = new QTableWidgetItem);
            cell->setText(text);
        }
    }
}

void TFormWeb::showList(QListWidget* box, List list) {
    box->clear();
    for (const QByteArray& entry : m_service.lists().entries(list))
        box->addItem(Cp1251::toUnicode(entry));
}

bool TFormWeb::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        if (watched == Panel1)
            Panel1Click();
        else if (watched == Panel2)
            Panel2Click();
    }
    return QWidget::eventFilter(watched, event);
}

// Centred over the main window each time it is shown.
void TFormWeb::showEvent(QShowEvent* event) {
    if (QWidget* owner = parentWidget())
        move(owner->frameGeometry().center() - rect().center());
    QWidget::showEvent(event);
}

void TFormWeb::closeEvent(QCloseEvent* event) {
    FormClose();
    QWidget::closeEvent(event);
}
