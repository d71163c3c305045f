#pragma once

#include "Graphics.h"

#include <QFont>
#include <QFontMetrics>

// The platform's default font at pixel size 40, measured by Qt. Text drawn with it uses the
// painter's own font, which canvases set to the same default.
class NativeFont : public CAppsFont {
public:
    NativeFont();

    TInt32 ascent() override;
    TInt32 height() override;
    TInt32 stringWidth(const TUint16* text, TInt32 start, TInt32 length) override;
    TInt32 charsThatFit(const TUint16* text, TInt32 start, TInt32 length, TInt32 maxWidth) override;
    TInt32 fontType() override { return kNativeFont; }

private:
    QFont font;
    QFontMetrics metrics;
};
