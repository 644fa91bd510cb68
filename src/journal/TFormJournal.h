#pragma once

#include "FontChooser.h"
#include "JournalQuery.h"
#include "SaveFileChooser.h"

#include <QWidget>

#include <memory>
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
// records shown can be exported to a text file.
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

    // The menu item "Журнал": shows the window and searches; the first time, today.
    void Journal1Click();
    void BitBtn1Click();
    void BitBtn2Click();
    JournalFilter filter() const;
    const std::vector<JournalRow>& rows() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void setToday();
    void fillOrigins();
    void showFound(JournalQuery::Found found);
    void showReply();
    void showJournalState();

    OperatorJournal& m_journal;
    OperatorMessages& m_messages;
    JournalTableModel* m_model = nullptr;
    std::unique_ptr<JournalQuery> m_query; // open while the window is shown
    SaveFileDialog m_saveDialog;
    SaveFileChooser* m_saveChooser = &m_saveDialog;
    bool m_shownOnce = false;
};
