#include "commands/SystemSheet.h"

#include "commands/CommandBuilders.h"
#include "dispatch/Dispatcher.h"
#include "shared/DesignScale.h"
#include "shared/Widgets.h"

#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

SystemSheet::SystemSheet(Dispatcher& dispatcher, QWidget& commandLine, QWidget* parent)
    : QWidget(parent), m_dispatcher(dispatcher), m_commandLine(commandLine) {
    setObjectName(QStringLiteral("TabSheet3"));
    const DesignScale scale(*this);
    BitBtn4 = new QPushButton(this);
    Widgets::name(BitBtn4, "BitBtn4", QStringLiteral("Время"), QStringLiteral("RTM-RRT"));
    BitBtn4->setAutoDefault(false);
    scale.place(BitBtn4, 12, 14, 100, 34);
    BitBtn9 = new QPushButton(this);
    Widgets::name(BitBtn9, "BitBtn9", {}, QStringLiteral("Время компьютера записать в АТС"));
    BitBtn9->setIcon(style()->standardIcon(QStyle::SP_ArrowUp));
    BitBtn9->setAutoDefault(false);
    scale.place(BitBtn9, 12, 58, 100, 34);

    GroupBox1 = new QGroupBox(QStringLiteral("Время компьютера"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    scale.place(GroupBox1, 124, 8, 252, 84);
    Label1 = new QLabel(GroupBox1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    Widgets::setTextColour(Label1, QColor(255, 0, 0), true);
    auto* layout = new QVBoxLayout(GroupBox1);
    layout->addWidget(Label1);

    connect(BitBtn4, &QPushButton::clicked, this, &SystemSheet::BitBtn4Click);
    connect(BitBtn9, &QPushButton::clicked, this, &SystemSheet::BitBtn9Click);
}

QString SystemSheet::clockText(const QDateTime& reading, const QLocale& locale) {
    QString text = locale.toString(reading.date(), QLocale::ShortFormat);
    if (reading.time() != QTime(0, 0)) {
        // The long time without the time zone that Qt's long format adds.
        QString format = locale.timeFormat(QLocale::LongFormat);
        format.remove(QLatin1Char('t'));
        text += QLatin1Char(' ') + locale.toString(reading.time(), format.trimmed());
    }
    return text;
}

void SystemSheet::BitBtn4Click() {
    m_dispatcher.QueueCommand(Commands::clockRead().view());
    m_commandLine.setFocus();
    Label1->setText(clockText(m_clock(), locale()));
}

void SystemSheet::BitBtn9Click() {
    const QDateTime reading = m_clock(); // one reading for the label and the command
    Label1->setText(clockText(reading, locale()));
    m_dispatcher.QueueCommand(Commands::clockWrite(reading).view());
    m_commandLine.setFocus();
}
