#pragma once

#include "dispatch/FontChooser.h"
#include "journal/JournalReader.h"
#include "journal/SaveFileChooser.h"

#include <QDateTime>
#include <QWidget>

#include <utility>
#include <vector>

class OperatorJournal;
class OperatorMessages;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class JournalTableModel;

// The journal window "Журнал": a time range (today at first), an origin filter and a text
// searched in commands and reply lines; the table of the records found, the newest at the
// bottom, and the selected record's whole reply below it in the console's font. The
// records shown can be exported to a text file. Its reader does every search, reply and
// export on a thread of its own: the window never waits for the disk, and says while a
// search is under way.
class TFormJournal final : public QWidget {
    Q_OBJECT
public:
    static constexpr int CLIENT_WIDTH = 980; // design pixels at 120 pixels per inch
    static constexpr int CLIENT_HEIGHT = 640;
    static constexpr int MAX_RECORDS = 10000; // records the table shows at most
    static constexpr int REPLY_LINES = 5000;  // lines of one record the pane shows at most

    TFormJournal(OperatorJournal& journal, OperatorMessages& messages, QWidget* parent = nullptr);
    ~TFormJournal() override;

    void setReplyFont(const ConsoleFont& font);
    void setSaveChooser(SaveFileChooser* chooser) { m_saveChooser = chooser; }

    QLabel* Label1 = nullptr; // "С"
    QDateTimeEdit* DateTimePicker1 = nullptr;
    QLabel* Label2 = nullptr; // "по"
    QDateTimeEdit* DateTimePicker2 = nullptr;
    QLabel* Label3 = nullptr;       // "Источник"
    QComboBox* ComboBox1 = nullptr; // the origin filter
    QLabel* Label4 = nullptr;       // "Текст"
    QLineEdit* Edit1 = nullptr;     // the text searched
    QPushButton* BitBtn1 = nullptr; // search
    QPushButton* BitBtn2 = nullptr; // export
    QLabel* Label5 = nullptr;       // what the search found
    QLabel* Label6 = nullptr;       // the journal is not kept, and why
    QTableView* DBGrid1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr; // the selected record's reply

    // The menu item "Журнал": shows the window and searches; today's records, unless the
    // operator has set the time range.
    void Journal1Click();
    void BitBtn1Click();
    void BitBtn2Click();
    JournalFilter filter() const;
    const std::vector<JournalRow>& rows() const;
    bool searching() const { return m_reader.searching(); }
    JournalReader& reader() { return m_reader; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void setToday();
    void fillOrigins(const QStringList& webAddresses);
    void showBusy(bool busy);
    void showFound(const JournalReader::Found& found);
    void askReply();
    void showReply(std::int64_t record, const QString& text);
    void showExported(const JournalReader::Exported& exported);
    void showJournalState();

    OperatorJournal& m_journal;
    OperatorMessages& m_messages;
    JournalTableModel* m_model = nullptr;
    JournalReader m_reader;        // its file open while the window is shown
    std::int64_t m_paneRecord = 0; // the record whose reply the pane shows, or will
    SaveFileDialog m_saveDialog;
    SaveFileChooser* m_saveChooser = &m_saveDialog;
    std::pair<QDateTime, QDateTime> m_today; // the range that setToday() set last
};
