#include "NativeFont.h"

namespace {

QFont defaultFont() {
    QFont font;
    font.setPixelSize(40);
    return font;
}

QString textOf(const TUint16* text, TInt32 start, TInt32 length) {
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(text) + start, length);
}

} // namespace

NativeFont::NativeFont() : font(defaultFont()), metrics(font) {}

TInt32 NativeFont::ascent() {
    return metrics.ascent();
}

TInt32 NativeFont::height() {
    return metrics.height();
}

TInt32 NativeFont::stringWidth(const TUint16* text, TInt32 start, TInt32 length) {
    if (length < 1) return 0;
    return metrics.horizontalAdvance(textOf(text, start, length));
}

// The most characters n whose advance stays within maxWidth. Advances grow with n, so the
// first n that no longer fits is found by bisection instead of measuring every prefix.
TInt32 NativeFont::charsThatFit(const TUint16* text, TInt32 start, TInt32 length, TInt32 maxWidth) {
    if (length < 1) return 0;
    const QString t = textOf(text, start, length);
    TInt32 fitting = 0; // fits
    TInt32 beyond = length + 1;
    while (beyond - fitting > 1) {
        const TInt32 n = fitting + (beyond - fitting) / 2;
        if (metrics.horizontalAdvance(t, n) > maxWidth)
            beyond = n;
        else
            fitting = n;
    }
    return fitting;
}
