#pragma once

#include "shared/Timer.h"
#include "web/HttpServer.h"
#include "web/WebAccessList.h"

#include <QDir>
#include <QWidget>

#include <cstdint>
#include <memory>

class OperatorMessages;
class QLabel;
class QLineEdit;
class QListWidget;
class QTableWidget;
class QToolButton;
class WebService;

// The web access window "FormWeb": the four connection slots, the passwords, the catalogue
// of commands and the commands permitted to web users, of the station's web service. It is
// created hidden at start-up, loads the three list files and switches the web server on;
// "Web" in the main menu shows it; closing it writes back the lists that were changed.
class TFormWeb final : public QWidget {
    Q_OBJECT
public:
    static constexpr int CLIENT_WIDTH = 620; // design pixels at 120 pixels per inch
    static constexpr int CLIENT_HEIGHT = 440;
    static constexpr int PASSWORD_LIMIT = 12;      // passwords the window adds at most
    static constexpr int PASSWORD_CHARACTERS = 16; // of a typed password

    // The list files are looked up in `workingDirectory`.
    TFormWeb(WebService& service, OperatorMessages& messages, const QString& workingDirectory,
             QWidget* parent = nullptr);
    ~TFormWeb() override;

    WebService& service() { return m_service; }

    QWidget* ToolBar1 = nullptr;
    QToolButton* ToolButton1 = nullptr; // idle
    QToolButton* ToolButton2 = nullptr; // idle
    QTableWidget* StringGrid1 = nullptr;
    QLabel* Label1 = nullptr;            // "Пароли"
    QListWidget* ListBox1 = nullptr;     // PasswordList
    QToolButton* SpeedButton2 = nullptr; // Delete
    QLineEdit* Edit1 = nullptr;          // a password to add
    QToolButton* SpeedButton1 = nullptr; // Add
    QLabel* Label2 = nullptr;            // "Все команды"
    QListWidget* ListBox2 = nullptr;     // AllCommandsList
    QToolButton* SpeedButton3 = nullptr; // permit the selected command
    QToolButton* SpeedButton4 = nullptr; // withdraw the selected permitted command
    QLabel* Label3 = nullptr;            // "Разр. команды"
    QListWidget* ListBox3 = nullptr;     // PermittedList
    QLabel* Panel1 = nullptr;            // diagnostics: ConnectionCount
    QLabel* Panel2 = nullptr;            // diagnostics: WebReplyReady

    std::uint8_t PasswordsChanged = 0;
    std::uint8_t PermittedChanged = 0;

    void FormCreate();
    void Web1Click();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void FormClose();
    void Panel1Click();
    void Panel2Click();
    // Shows the slot table in the grid.
    void showSlots();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void startServer();
    void showList(QListWidget* box, WebAccessList::List list);
    void append(WebAccessList::List list, QListWidget* box, QToolButton* button,
                const QByteArray& entry);
    bool remove(WebAccessList::List list, QListWidget* box, QToolButton* button, int row);
    void saveList(WebAccessList::List list, std::uint8_t& changed);

    WebService& m_service;
    OperatorMessages& m_messages;
    QDir m_workingDirectory;
    bool m_writeFailed[WebAccessList::LIST_COUNT] = {}; // the list's last write failed
};
