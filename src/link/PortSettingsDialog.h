#pragma once

#include "link/SerialDevice.h"

#include <QDialog>

class QComboBox;

// Edits the open port's speed, data bits, parity, stop bits and flow control. It shows what
// the port holds, also a speed or a flow control mix that its lists do not name, and left
// alone gives all of it back unchanged.
class PortSettingsDialog final : public QDialog {
    Q_OBJECT
public:
    PortSettingsDialog(const QString& portName, const LineSettings& settings,
                       QWidget* parent = nullptr);
    LineSettings settings() const;

private:
    QComboBox* m_baudRate = nullptr;
    QComboBox* m_dataBits = nullptr;
    QComboBox* m_parity = nullptr;
    QComboBox* m_stopBits = nullptr;
    QComboBox* m_flow = nullptr;
};
