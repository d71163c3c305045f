#pragma once

#include "Graphics.h"

#include <QImage>
#include <QPixmap>

class QPainter;

// A bitmap font cut from an image. The bottom row marks where glyphs end (a non-zero blue
// byte); glyphs run from column 1 to the first marker, then from marker to marker, for the
// characters 32, 33, ... in order. Column 0 counts the rows above the baseline. The other rows
// hold the glyphs' coverage in their blue byte, drawn in the text colour.
class ZarnokFont : public CAppsFont {
public:
    struct CharData {
        int x = 0;
        int width = 0;
    };

    // source is ARGB32; a marker in column 1 besides others further right raises code 6.
    explicit ZarnokFont(const QImage& source);

    TInt32 ascent() override { return ascentRows; }
    TInt32 height() override { return glyphHeight; }
    TInt32 stringWidth(const TUint16* text, TInt32 start, TInt32 length) override;
    TInt32 charsThatFit(const TUint16* text, TInt32 start, TInt32 length, TInt32 maxWidth) override;
    TInt32 fontType() override { return kBitmapFont; }
    int getContentSize() const override;

    // Draws with the top-left corner of the text at `at`; a translucent colour draws at that
    // opacity.
    void draw(QPainter& painter, const TUint16* text, TInt32 start, TInt32 length, GraphicsPoint at,
              TUint32 colour);

    CharData glyph(TUint16 character) const {
        const int index = int(character) - 32;
        return index >= 0 && index < glyphs.size() ? glyphs[index] : CharData{};
    }
    int glyphCount() const { return glyphs.size(); }
    // How often the coloured glyph strip was built.
    int colouringCount() const { return colourings; }

private:
    void setColour(TUint32 colour);

    int ascentRows = 0;
    int glyphHeight = 0;
    Vec<CharData> glyphs;
    QImage pixelData;
    QPixmap colouredPixmap;
    TUint32 pixmapColour = 0xFFFFFFFF;
    int colourings = 0;
};
