#pragma once

#include <QObject>

class QWidget;
class QWindow;

// Tells where the focus came from when a window gets it back. Qt reports a window's
// activation alike whether the focus returns from another of the program's own windows (a
// message box, a dialog) or from another program. The focus window's history tells them
// apart: between the program's own windows the focus goes straight from one to the next
// (the window system holds back a focus loss for a moment to see whether one of the
// program's windows takes the focus), while another program taking the focus leaves the
// program with no focus window. A drop-down list belongs to the window it drops from.
class ActivationWatch final : public QObject {
    Q_OBJECT
public:
    explicit ActivationWatch(QWidget& window);

signals:
    // The window got the focus: from another of the program's windows, or from elsewhere
    // (another program, or nothing yet at start-up).
    void activated(bool fromOwnWindow);

private:
    enum class Focus { Elsewhere, Window, OwnWindow };
    void focusWindowChanged(QWindow* focus);

    QWidget& m_window;
    Focus m_focus = Focus::Elsewhere;
};
