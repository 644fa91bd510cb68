#pragma once

#include <QWidget>

#include <cmath>

// The windows are laid out in design pixels at 120 pixels per inch and scaled to the
// screen's resolution, so that they keep their proportions on any screen.
class DesignScale {
public:
    static constexpr double DESIGN_DPI = 120.0;

    explicit DesignScale(const QWidget& reference)
        : m_factor(reference.logicalDpiY() / DESIGN_DPI) {}
    explicit DesignScale(double factor) : m_factor(factor) {}

    int operator()(int designPixels) const { return int(std::lround(designPixels * m_factor)); }
    double factor() const { return m_factor; }

    void place(QWidget* widget, int left, int top, int width, int height) const {
        widget->setGeometry((*this)(left), (*this)(top), (*this)(width), (*this)(height));
    }

private:
    double m_factor;
};
