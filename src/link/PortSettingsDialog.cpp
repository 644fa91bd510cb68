#include "link/PortSettingsDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>

namespace {

// A choice of values; a current value that the list does not name is added under its own
// name, so the dialog always shows, and gives back, what the port holds.
QComboBox* makeChoice(QWidget* parent, const char* name,
                      const QList<std::pair<QString, int>>& items, int current,
                      const QString& currentName) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    for (const auto& [text, value] : items)
        box->addItem(text, value);
    const int index = box->findData(current);
    if (index < 0)
        box->addItem(currentName, current);
    box->setCurrentIndex(index < 0 ? box->count() - 1 : index);
    return box;
}

QComboBox* makeNumberChoice(QWidget* parent, const char* name, std::initializer_list<int> values,
                            int current) {
    QList<std::pair<QString, int>> items;
    for (const int value : values)
        items.append({QString::number(value), value});
    return makeChoice(parent, name, items, current, QString::number(current));
}

// A mix of flow control bits that the three usual choices do not name, by its parts.
QString flowName(unsigned flow) {
    QStringList parts;
    if (flow & LineSettings::RtsCts)
        parts << QStringLiteral("RTS/CTS");
    if (flow & LineSettings::XonOutput)
        parts << QStringLiteral("IXON");
    if (flow & LineSettings::XoffInput)
        parts << QStringLiteral("IXOFF");
    if (flow & LineSettings::XonAny)
        parts << QStringLiteral("IXANY");
    return parts.join(QStringLiteral(" + "));
}

} // namespace

PortSettingsDialog::PortSettingsDialog(const QString& portName, const LineSettings& settings,
                                       QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(portName);
    m_baudRate = makeNumberChoice(this, "baudRate",
                                  {110, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600,
                                   115200, 230400, 460800, 921600},
                                  settings.baudRate);
    m_dataBits = makeNumberChoice(this, "dataBits", {5, 6, 7, 8}, settings.dataBits);
    using P = LineSettings::Parity;
    m_parity = makeChoice(this, "parity",
                          {{QStringLiteral("Нет"), int(P::None)},
                           {QStringLiteral("Нечет"), int(P::Odd)},
                           {QStringLiteral("Чет"), int(P::Even)},
                           {QStringLiteral("Маркер"), int(P::Mark)},
                           {QStringLiteral("Пробел"), int(P::Space)}},
                          int(settings.parity), QString());
    m_stopBits = makeNumberChoice(this, "stopBits", {1, 2}, settings.stopBits);
    m_flow = makeChoice(this, "flowControl",
                        {{QStringLiteral("Нет"), 0},
                         {QStringLiteral("Аппаратное"), LineSettings::RtsCts},
                         {QStringLiteral("Xon / Xoff"), LineSettings::XON_XOFF}},
                        int(settings.flow), flowName(settings.flow));

    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Бит в секунду:"), m_baudRate);
    form->addRow(QStringLiteral("Биты данных:"), m_dataBits);
    form->addRow(QStringLiteral("Четность:"), m_parity);
    form->addRow(QStringLiteral("Стоповые биты:"), m_stopBits);
    form->addRow(QStringLiteral("Управление потоком:"), m_flow);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

LineSettings PortSettingsDialog::settings() const {
    LineSettings line;
    line.baudRate = m_baudRate->currentData().toInt();
    line.dataBits = m_dataBits->currentData().toInt();
    line.parity = LineSettings::Parity(m_parity->currentData().toInt());
    line.stopBits = m_stopBits->currentData().toInt();
    line.flow = m_flow->currentData().toUInt();
    return line;
}
