#pragma once

#include <QDateTime>
#include <QWidget>

#include <functional>

class Dispatcher;
class QGroupBox;
class QLabel;
class QPushButton;

// The page "Система" (TabSheet3): reads the exchange's clock and sets it from the
// computer's; Label1 shows the computer's date and time of the last such click.
class SystemSheet final : public QWidget {
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;

    SystemSheet(Dispatcher& dispatcher, QWidget& commandLine, QWidget* parent = nullptr);
    // The computer's clock; tests fix the instant.
    void setClock(Clock clock) { m_clock = std::move(clock); }

    // The short date, a blank and the long time of the page's language (the system's unless
    // set otherwise); the time is left out at midnight.
    static QString clockText(const QDateTime& reading, const QLocale& locale);

    QPushButton* BitBtn4 = nullptr; // Время: RTM-RRT
    QPushButton* BitBtn9 = nullptr; // write the computer's clock into the exchange
    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label1 = nullptr;

    void BitBtn4Click();
    void BitBtn9Click();

private:
    Dispatcher& m_dispatcher;
    QWidget& m_commandLine;
    Clock m_clock = [] { return QDateTime::currentDateTime(); };
};
