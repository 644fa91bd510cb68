#pragma once

#include <QString>

// The modal boxes through which the operator learns of a refusal. Tests put a recorder here.
class OperatorMessages {
public:
    virtual ~OperatorMessages() = default;
    // No icon, one OK button, the application's title as caption.
    virtual void plain(const QString& text) = 0;
    // Error icon, caption "Error", one button "&Yes".
    virtual void error(const QString& text) = 0;
    // A failure of the system (the web server cannot listen, a list file cannot be
    // written): error icon, the application's title as caption, one OK button.
    virtual void failure(const QString& text) = 0;
};
