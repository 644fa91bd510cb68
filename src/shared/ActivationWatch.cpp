#include "shared/ActivationWatch.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#include <utility>

ActivationWatch::ActivationWatch(QWidget& window) : QObject(&window), m_window(window) {
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this,
            &ActivationWatch::focusWindowChanged);
}

void ActivationWatch::focusWindowChanged(QWindow* focus) {
    if (focus && focus->type() == Qt::Popup)
        return;
    const Focus now = !focus                             ? Focus::Elsewhere
                      : focus == m_window.windowHandle() ? Focus::Window
                                                         : Focus::OwnWindow;
    const Focus before = std::exchange(m_focus, now);
    if (now == Focus::Window && before != Focus::Window)
        emit activated(before == Focus::OwnWindow);
}
