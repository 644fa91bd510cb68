#include "journal/TFormJournal.h"

#include "journal/JournalTexts.h"
#include "journal/OperatorJournal.h"
#include "shared/DesignScale.h"
#include "shared/Faces.h"
#include "shared/OperatorMessages.h"
#include "shared/Widgets.h"

#include <QAbstractTableModel>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>

namespace {

const QColor RED(255, 0, 0);
constexpr int COLUMN_WIDTHS[] = {160, 120, 350, 200, 100};
constexpr int ROW_HEIGHT = 20;
const char* const DATE_TIME_FORMAT = "dd.MM.yyyy HH:mm:ss";

QDateTimeEdit* makeDateTimeEdit(QWidget* parent, const char* name) {
    auto* edit = new QDateTimeEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setDisplayFormat(QString::fromLatin1(DATE_TIME_FORMAT));
    edit->setCalendarPopup(true);
    return edit;
}

// A file as the disk has it, links followed, also when it does not exist yet.
QString realPath(const QString& file) {
    const QFileInfo info(file);
    if (info.exists())
        return info.canonicalFilePath();
    const QString folder = info.absoluteDir().canonicalPath();
    return folder.isEmpty() ? info.absoluteFilePath() : QDir(folder).filePath(info.fileName());
}

// The journal's file or one of the two that SQLite keeps beside it.
bool isJournalFile(const QString& file, const QString& journal) {
    const QString real = realPath(file);
    for (const char* suffix : {"", "-wal", "-shm"})
        if (real == realPath(journal + QLatin1String(suffix)))
            return true;
    return false;
}

} // namespace

// The records found, as the table shows them.
class JournalTableModel final : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setRows(std::vector<JournalRow> rows) {
        beginResetModel();
        m_rows = std::move(rows);
        endResetModel();
    }
    const std::vector<JournalRow>& rows() const { return m_rows; }

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : int(m_rows.size());
    }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 5; }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid())
            return {};
        const JournalRow& row = m_rows[std::size_t(index.row())];
        switch (index.column()) {
        case 0:
            return JournalTexts::time(row.time);
        case 1:
            return JournalTexts::origin(row);
        case 2:
            return JournalTexts::subject(row);
        case 3:
            return JournalTexts::end(row);
        default:
            return JournalTexts::duration(row);
        }
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        static const QStringList titles{QStringLiteral("Время"), QStringLiteral("Источник"),
                                        QStringLiteral("Команда или строка"),
                                        QStringLiteral("Завершение"),
                                        QStringLiteral("Длительность")};
        if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
            return {};
        return titles.value(section);
    }

private:
    std::vector<JournalRow> m_rows;
};

TFormJournal::TFormJournal(OperatorJournal& journal, OperatorMessages& messages, QWidget* parent)
    : QWidget(parent, Qt::Window), m_journal(journal), m_messages(messages),
      m_reader(journal.path(), {MAX_RECORDS, REPLY_LINES}) {
    setObjectName(QStringLiteral("TFormJournal"));
    setWindowTitle(QStringLiteral("Журнал"));
    buildControls();
    setToday();
    connect(&m_journal, &OperatorJournal::trouble, this, &TFormJournal::showJournalState);
    connect(&m_reader, &JournalReader::opened, this, &TFormJournal::fillOrigins);
    connect(&m_reader, &JournalReader::found, this, &TFormJournal::showFound);
    connect(&m_reader, &JournalReader::replyRead, this, &TFormJournal::showReply);
    connect(&m_reader, &JournalReader::exported, this, &TFormJournal::showExported);
}

TFormJournal::~TFormJournal() = default;

void TFormJournal::buildControls() {
    const DesignScale scale(*this);
    setFixedSize(scale(CLIENT_WIDTH), scale(CLIENT_HEIGHT));
    setFont(Faces::designFont(QStringLiteral("MS Sans Serif"), 13, scale.factor()));

    Label1 = Widgets::label(this, "Label1", QStringLiteral("С"));
    scale.place(Label1, 8, 10, 18, 22);
    DateTimePicker1 = makeDateTimeEdit(this, "DateTimePicker1");
    scale.place(DateTimePicker1, 28, 8, 180, 26);
    Label2 = Widgets::label(this, "Label2", QStringLiteral("по"));
    scale.place(Label2, 220, 10, 24, 22);
    DateTimePicker2 = makeDateTimeEdit(this, "DateTimePicker2");
    scale.place(DateTimePicker2, 246, 8, 180, 26);
    Label3 = Widgets::label(this, "Label3", QStringLiteral("Источник"));
    scale.place(Label3, 442, 10, 70, 22);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    scale.place(ComboBox1, 514, 8, 230, 26);
    connect(ComboBox1, &QComboBox::activated, this, &TFormJournal::BitBtn1Click);

    Label4 = Widgets::label(this, "Label4", QStringLiteral("Текст"));
    scale.place(Label4, 8, 44, 50, 22);
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setPlaceholderText(QStringLiteral("в командах и строках ответа"));
    scale.place(Edit1, 60, 42, 684, 26);
    connect(Edit1, &QLineEdit::returnPressed, this, &TFormJournal::BitBtn1Click);

    BitBtn1 = Widgets::pushButton(this, "BitBtn1", QStringLiteral("Найти"));
    scale.place(BitBtn1, 760, 8, 100, 28);
    connect(BitBtn1, &QPushButton::clicked, this, &TFormJournal::BitBtn1Click);
    BitBtn2 = Widgets::pushButton(this, "BitBtn2", QStringLiteral("Экспорт..."));
    scale.place(BitBtn2, 868, 8, 104, 28);
    connect(BitBtn2, &QPushButton::clicked, this, &TFormJournal::BitBtn2Click);

    Label5 = Widgets::label(this, "Label5", {});
    scale.place(Label5, 8, 74, 480, 20);
    Label6 = Widgets::label(this, "Label6", {});
    Widgets::setTextColour(Label6, RED, true);
    Label6->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    scale.place(Label6, 492, 74, 480, 20);

    m_model = new JournalTableModel(this);
    DBGrid1 = new QTableView(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setModel(m_model);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->setWordWrap(false);
    DBGrid1->verticalHeader()->hide();
    DBGrid1->verticalHeader()->setDefaultSectionSize(scale(ROW_HEIGHT));
    DBGrid1->horizontalHeader()->setStretchLastSection(true);
    for (int column = 0; column < 5; ++column)
        DBGrid1->setColumnWidth(column, scale(COLUMN_WIDTHS[column]));
    scale.place(DBGrid1, 8, 96, 964, 300);
    connect(DBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &TFormJournal::askReply);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setFont(Faces::designFont(QStringLiteral("Courier New"), 18, scale.factor()));
    scale.place(Memo1, 8, 404, 964, 228);
}

void TFormJournal::setReplyFont(const ConsoleFont& font) {
    Memo1->setFont(font.font);
    Widgets::setTextColour(Memo1, font.colour);
}

// The range follows the day as long as it shows the one set last: a terminal that runs for
// weeks shows the day of each opening.
void TFormJournal::Journal1Click() {
    if (std::pair(DateTimePicker1->dateTime(), DateTimePicker2->dateTime()) == m_today)
        setToday();
    m_reader.open(); // anew each time: the writer may have begun a new file meanwhile
    showJournalState();
    show();
    raise();
    activateWindow();
    BitBtn1Click();
}

// The file's connection and its cache go with the window, and a search under way is
// stopped; the rows shown stay for the next opening, which searches anew.
void TFormJournal::closeEvent(QCloseEvent* event) {
    m_reader.close();
    showBusy(false);
    QWidget::closeEvent(event);
}

void TFormJournal::setToday() {
    const QDate today = QDateTime::fromMSecsSinceEpoch(m_journal.now()).date();
    m_today = {today.startOfDay(), QDateTime(today, QTime(23, 59, 59))};
    DateTimePicker1->setDateTime(m_today.first);
    DateTimePicker2->setDateTime(m_today.second);
}

// "Все", "Пульт", "Web", "Строки без команды", then each web address the journal holds.
void TFormJournal::fillOrigins(const QStringList& webAddresses) {
    using Origins = JournalFilter::Origins;
    const QString current = ComboBox1->currentText();
    ComboBox1->clear();
    ComboBox1->addItem(QStringLiteral("Все"), int(Origins::All));
    ComboBox1->addItem(QStringLiteral("Пульт"), int(Origins::Console));
    ComboBox1->addItem(QStringLiteral("Web"), int(Origins::Web));
    ComboBox1->addItem(QStringLiteral("Строки без команды"), int(Origins::Lines));
    for (const QString& address : webAddresses)
        ComboBox1->addItem(QStringLiteral("Web ") + address, int(Origins::Address));
    ComboBox1->setCurrentIndex(std::max(0, ComboBox1->findText(current)));
}

JournalFilter TFormJournal::filter() const {
    JournalFilter filter;
    filter.from = DateTimePicker1->dateTime().toMSecsSinceEpoch();
    filter.to = DateTimePicker2->dateTime().toMSecsSinceEpoch() + 999; // the whole last second
    filter.origins = JournalFilter::Origins(ComboBox1->currentData().toInt());
    if (filter.origins == JournalFilter::Origins::Address)
        filter.address = ComboBox1->currentText().section(QLatin1Char(' '), 1);
    filter.text = Edit1->text();
    return filter;
}

const std::vector<JournalRow>& TFormJournal::rows() const {
    return m_model->rows();
}

// A newer search replaces one under way; the table keeps what it shows until the answer.
void TFormJournal::BitBtn1Click() {
    m_reader.search(filter());
    Label5->setText(QStringLiteral("Идёт поиск..."));
    showBusy(true);
}

void TFormJournal::showBusy(bool busy) {
    if (busy)
        DBGrid1->viewport()->setCursor(Qt::BusyCursor);
    else
        DBGrid1->viewport()->unsetCursor();
}

void TFormJournal::showFound(const JournalReader::Found& found) {
    showBusy(false);
    if (!found.problem.isEmpty()) {
        m_model->setRows({});
        m_paneRecord = 0;
        Memo1->clear();
        Label5->setText(QStringLiteral("Файл журнала не читается: ") + found.problem);
        return;
    }
    const qsizetype count = qsizetype(found.rows.size());
    m_model->setRows(found.rows);
    if (found.more)
        Label5->setText(QStringLiteral("Показаны последние %1 записей; совпало больше, "
                                       "уточните поиск")
                            .arg(MAX_RECORDS));
    else
        Label5->setText(count == 0 ? QStringLiteral("Записей нет")
                                   : QStringLiteral("Записей: %1").arg(count));
    if (count == 0) {
        m_paneRecord = 0;
        Memo1->clear();
        return;
    }
    // The newest, at the bottom, with its reply, which came with the search.
    m_paneRecord = found.rows.back().id;
    Memo1->setPlainText(found.newestReply);
    DBGrid1->selectRow(int(count - 1));
    DBGrid1->scrollToBottom();
}

void TFormJournal::askReply() {
    const int index = DBGrid1->currentIndex().row();
    if (index < 0 || index >= int(rows().size()))
        return;
    const std::int64_t record = rows()[std::size_t(index)].id;
    if (record == m_paneRecord) // shown already, or on its way
        return;
    m_paneRecord = record;
    m_reader.readReply(record);
}

// A reply read for a record no longer selected is not shown.
void TFormJournal::showReply(std::int64_t record, const QString& text) {
    if (record == m_paneRecord)
        Memo1->setPlainText(text);
}

void TFormJournal::showJournalState() {
    Label6->setText(m_journal.isRecording()
                        ? QString()
                        : QStringLiteral("Журнал не ведётся: ") + m_journal.problem());
    Label6->setToolTip(Label6->text());
}

// The records shown when asked are written, whatever the table shows meanwhile.
void TFormJournal::BitBtn2Click() {
    if (rows().empty())
        return;
    const QString suggested =
        QFileInfo(m_journal.path())
            .dir()
            .filePath(QStringLiteral("Journal-%1.txt")
                          .arg(DateTimePicker1->date().toString(QStringLiteral("yyyy-MM-dd"))));
    const QString file = m_saveChooser->chooseFile(this, suggested);
    if (file.isEmpty())
        return;
    if (isJournalFile(file, m_journal.path())) { // the export would replace it
        const QString text = QStringLiteral("Экспорт не записывается в файл журнала %1: "
                                            "выберите другой файл.")
                                 .arg(QDir::toNativeSeparators(file));
        Label5->setText(text);
        m_messages.failure(text);
        return;
    }
    m_reader.exportRecords(file, rows());
    Label5->setText(QStringLiteral("Идёт запись в файл %1...").arg(QDir::toNativeSeparators(file)));
}

void TFormJournal::showExported(const JournalReader::Exported& exported) {
    const QString file = QDir::toNativeSeparators(exported.file);
    if (!exported.error.isEmpty()) {
        const QString text = QStringLiteral("Не удалось записать %1: %2").arg(file, exported.error);
        Label5->setText(text);
        m_messages.failure(text);
        return;
    }
    Label5->setText(QStringLiteral("Записей в файле %1: %2").arg(file).arg(exported.records));
}
