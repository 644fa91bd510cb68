#include "PortSettingsDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>

namespace {

QComboBox* makeChoice(QWidget* parent, const QList<std::pair<QString, int>>& items, int current) {
    auto* box = new QComboBox(parent);
    for (const auto& [text, value] : items)
        box->addItem(text, value);
    const int index = box->findData(current);
    if (index < 0)
        box->addItem(QString::number(current), current); // a speed the list does not name
    box->setCurrentIndex(index < 0 ? box->count() - 1 : index);
    return box;
}

QList<std::pair<QString, int>> numbers(std::initializer_list<int> values) {
    QList<std::pair<QString, int>> items;
    for (const int value : values)
        items.append({QString::number(value), value});
    return items;
}

} // namespace

PortSettingsDialog::PortSettingsDialog(const QString& portName, const LineSettings& settings,
                                       QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(portName);
    m_baudRate = makeChoice(this,
                            numbers({110, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600,
                                     115200, 230400, 460800, 921600}),
                            settings.baudRate);
    m_dataBits = makeChoice(this, numbers({5, 6, 7, 8}), settings.dataBits);
    using P = LineSettings::Parity;
    m_parity = makeChoice(this,
                          {{QStringLiteral("Нет"), int(P::None)},
                           {QStringLiteral("Нечет"), int(P::Odd)},
                           {QStringLiteral("Чет"), int(P::Even)},
                           {QStringLiteral("Маркер"), int(P::Mark)},
                           {QStringLiteral("Пробел"), int(P::Space)}},
                          int(settings.parity));
    m_stopBits = makeChoice(this, numbers({1, 2}), settings.stopBits);
    using F = LineSettings::Flow;
    m_flow = makeChoice(this,
                        {{QStringLiteral("Нет"), int(F::None)},
                         {QStringLiteral("Аппаратное"), int(F::Hardware)},
                         {QStringLiteral("Xon / Xoff"), int(F::Software)}},
                        int(settings.flow));

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
    line.flow = LineSettings::Flow(m_flow->currentData().toInt());
    return line;
}
