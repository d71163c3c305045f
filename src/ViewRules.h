#pragma once

#include <QRect>
#include <QRegion>
#include <QSize>

// How the window meets the application: its canvas, and its key codes. In portrait the canvas is
// portrait-shaped while a landscape window shows it turned by -90 degrees: canvas pixel (x, y)
// appears at window pixel (y, H - 1 - x), H being the window height.
namespace ViewRules {

constexpr int kLandscape = 2;
constexpr int kPortrait = 1;

// The host turns the picture itself when the application wants portrait and the window is
// still landscape-shaped.
inline bool mustRotate(int orientation, QSize window) {
    return orientation == kPortrait && window.width() > window.height();
}

// The size of the canvas the application draws on.
inline QSize canvasSize(bool rotate, QSize window) {
    return rotate ? window.transposed() : window;
}

// A canvas rectangle as the window rectangle that shows it.
inline QRect windowRect(bool rotate, int windowHeight, QRect canvas) {
    if (!rotate) return canvas;
    return QRect(QPoint(canvas.y(), windowHeight - canvas.x() - canvas.width()),
                 QPoint(canvas.y() + canvas.height() - 1, windowHeight - canvas.x() - 1));
}

// A window region as the canvas region it shows.
inline QRegion canvasRegion(bool rotate, int windowHeight, const QRegion& window) {
    if (!rotate) return window;
    QRegion canvas;
    for (const QRect& r : window)
        canvas += QRect(windowHeight - 1 - r.bottom(), r.left(), r.height(), r.width());
    return canvas;
}

// The key code the application receives for a toolkit key.
int applicationKey(int toolkitKey);

} // namespace ViewRules
