#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// A window timer as the logic sees it, so that tests can drive time by hand.
// To restart means to disable and enable again, so that a full interval starts anew;
// enabling a timer that already runs leaves its countdown alone.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void setInterval(int milliseconds) = 0;
    virtual int interval() const = 0;
    virtual void enable() = 0;
    virtual void disable() = 0;
    virtual bool isEnabled() const = 0;
    void restart() {
        disable();
        enable();
    }
    void onTimeout(std::function<void()> handler) { m_handler = std::move(handler); }

protected:
    void fire() {
        if (m_handler)
            m_handler();
    }

private:
    std::function<void()> m_handler;
};

// The real timer of the window thread.
class QtTimer final : public Timer {
public:
    explicit QtTimer(int milliseconds) {
        m_timer.setInterval(milliseconds);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { fire(); });
    }
    void setInterval(int milliseconds) override {
        if (m_timer.interval() != milliseconds)
            m_timer.setInterval(milliseconds);
    }
    int interval() const override { return m_timer.interval(); }
    void enable() override {
        if (!m_timer.isActive())
            m_timer.start();
    }
    void disable() override { m_timer.stop(); }
    bool isEnabled() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
};
