#pragma once

#include "link/SerialDevice.h"

#include <QColor>
#include <QPalette>

#include <optional>

// The CTS and DSR lamps: yellow while the line is on, aqua while it is off, the button
// face while no port is open or the device has no modem lines, silver while the open port
// waits for its lost line.
enum class LampState { Idle, LineOn, LineOff, Waiting };

// What the lamps' hints and the port window say while the open port waits for its line.
inline const char* const LINE_WAITING_TEXT = "Нет связи: ждём возвращения линии";

inline LampState lampState(const std::optional<ModemLines>& lines, bool ModemLines::*line) {
    if (!lines)
        return LampState::Idle;
    return (*lines).*line ? LampState::LineOn : LampState::LineOff;
}

inline QColor lampColour(LampState state, const QPalette& palette) {
    switch (state) {
    case LampState::LineOn:
        return QColor(255, 255, 0);
    case LampState::LineOff:
        return QColor(0, 255, 255);
    case LampState::Waiting:
        return QColor(192, 192, 192);
    case LampState::Idle:
        break;
    }
    return palette.color(QPalette::Button);
}
