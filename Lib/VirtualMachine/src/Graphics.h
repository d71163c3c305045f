#pragma once

// The graphics objects as the machine sees them. The pixels, painters and fonts belong to the
// host (src/, on Qt); the graphics natives reach them only through these interfaces and the
// GraphicsFactory a front end installs with VirtualMachine::setGraphics.

#include "GCObject.h"
#include "Types.h"
#include "Vec.h"

#include <memory>

struct GraphicsPoint {
    TInt32 x;
    TInt32 y;
};

struct GraphicsRect {
    TInt32 x;
    TInt32 y;
    TInt32 width;
    TInt32 height;
};

// A bitmap: pixels as 0xAARRGGBB words, alpha 255 opaque. Coordinates are checked by the
// callers.
class VMBitmap : public GCObject {
public:
    // The encoded image in the named format ("jpg", "png", "gif", "bmp"); out stays unchanged
    // when there is nothing to encode.
    virtual bool encode(Vec<TUint8>& out, const char* format) = 0;
    // This bitmap's size, filled from source; mode 10 smooths, any other samples the nearest
    // pixel. A null source does nothing.
    virtual void scaleFrom(VMBitmap* source, TInt32 mode) = 0;
    // The pixels become the rectangle (x, y, width, height) of source.
    virtual void copyFrom(VMBitmap* source, TInt32 x, TInt32 y, TInt32 width, TInt32 height) = 0;
    // An opaque colour is painted; a translucent one replaces the pixels without blending.
    virtual void fill(TUint32 colour) = 0;
    virtual TUint32 pixel(TInt32 x, TInt32 y) = 0;
    virtual void setPixel(TInt32 x, TInt32 y, TUint32 colour) = 0;
    virtual void size(TInt32& width, TInt32& height) = 0;
};

// A font; text is the string's 16-bit units, start and length already checked against it.
class CAppsFont : public GCObject {
public:
    static constexpr TInt32 kNativeFont = 0;
    static constexpr TInt32 kBitmapFont = 1;

    virtual TInt32 ascent() = 0;
    virtual TInt32 height() = 0;
    virtual TInt32 stringWidth(const TUint16* text, TInt32 start, TInt32 length) = 0;
    virtual TInt32 charsThatFit(const TUint16* text, TInt32 start, TInt32 length,
                                TInt32 maxWidth) = 0;
    virtual TInt32 fontType() = 0;
};

// The painter of one drawing target. Once ended it draws nothing. Colours are 0xAARRGGBB,
// opacity 0 .. 255, angles and scales fixed point (value x 2^32).
class VMGraphics : public GCObject {
public:
    virtual void end() = 0;
    virtual void fillRect(GraphicsRect rect, TUint32 colour) = 0;
    virtual void clear(TUint32 colour) = 0;
    virtual void drawLine(GraphicsPoint from, GraphicsPoint to, TUint32 colour) = 0;
    virtual void drawBitmap(VMBitmap* bitmap, GraphicsPoint at, TInt32 opacity) = 0;
    virtual void drawBitmapRegion(VMBitmap* bitmap, GraphicsPoint at, GraphicsRect source,
                                  TInt32 opacity) = 0;
    virtual void drawTiled(GraphicsRect rect, VMBitmap* bitmap, GraphicsPoint offset) = 0;
    virtual void drawTransformed(VMBitmap* bitmap, GraphicsPoint centre, TInt64 angle,
                                 TInt64 scaleX, TInt64 scaleY, TInt32 opacity) = 0;
    // A font type other than kNativeFont and kBitmapFont raises code 6.
    virtual void drawText(const TUint16* text, TInt32 start, TInt32 length, GraphicsPoint at,
                          TUint32 colour, CAppsFont& font) = 0;
};

// Makes the host's graphics objects. Creation never raises except where stated; decoding
// failures come back as null.
class GraphicsFactory {
public:
    virtual ~GraphicsFactory() = default;
    // Contents undefined until filled. Sizes are positive and checked by the caller.
    virtual std::unique_ptr<VMBitmap> createBitmap(TInt32 width, TInt32 height) = 0;
    // An independent copy; null when source is not the host's bitmap.
    virtual std::unique_ptr<VMBitmap> copyBitmap(VMBitmap& source) = 0;
    virtual std::unique_ptr<VMBitmap> decodeBitmap(const TUint8* bytes, TInt32 count) = 0;
    // A bitmap font cut from the decoded image; a malformed marker row raises code 6.
    virtual std::unique_ptr<CAppsFont> decodeFont(const TUint8* bytes, TInt32 count) = 0;
    virtual std::unique_ptr<CAppsFont> createNativeFont() = 0;
    // A painter on the bitmap; a bitmap of zero area raises code 10
    // "GraphicsContainer: invalid bitmap".
    virtual std::unique_ptr<VMGraphics> createCanvas(VMBitmap& bitmap) = 0;
};
