#pragma once

#include "shared/OperatorMessages.h"

class QWidget;

// The operator's message boxes as real modal windows, centred on the screen.
class MessageBoxes final : public OperatorMessages {
public:
    void plain(const QString& text) override;
    void error(const QString& text) override;
    void failure(const QString& text) override;
};
