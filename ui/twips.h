#pragma once
// Placement of controls in twips (1/1440 inch), the unit the window's arrangement is
// drawn in. One twip is 1/15 of a logical pixel at 96 dpi; the factor `scale` enlarges the
// whole arrangement when the user's font is taller than the 13-pixel line it was drawn for.
// Qt's own device-pixel scaling (200 % screens) applies on top of logical pixels.

#include <QFont>
#include <QFontMetrics>
#include <QRect>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace dormal::ui {

class Twips {
public:
    explicit Twips(double scale = 1.0) : scale_(scale) {}

    // Scale fitted to `font`: 1 for a line height of 13 pixels or less.
    static Twips forFont(const QFont& font) {
        const int lineHeight = QFontMetrics(font).height();
        return Twips(std::max(1.0, lineHeight / 13.0));
    }

    double scale() const { return scale_; }
    // Twips to logical pixels.
    int px(int twips) const { return static_cast<int>(std::lround(twips / 15.0 * scale_)); }
    QRect rect(int left, int top, int width, int height) const {
        return QRect(px(left), px(top), px(width), px(height));
    }
    void place(QWidget* w, int left, int top, int width, int height) const {
        w->setGeometry(rect(left, top, width, height));
    }

private:
    double scale_;
};

} // namespace dormal::ui
