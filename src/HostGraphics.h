#pragma once

#include "Graphics.h"

class VirtualMachine;

// The host's graphics for the machine's natives: bitmaps, painters and fonts on Qt. Needs a
// QGuiApplication while the machine lives.
class HostGraphics : public GraphicsFactory {
public:
    std::unique_ptr<VMBitmap> createBitmap(TInt32 width, TInt32 height) override;
    std::unique_ptr<VMBitmap> copyBitmap(VMBitmap& source) override;
    std::unique_ptr<VMBitmap> decodeBitmap(const TUint8* bytes, TInt32 count) override;
    std::unique_ptr<CAppsFont> decodeFont(const TUint8* bytes, TInt32 count) override;
    std::unique_ptr<CAppsFont> createNativeFont() override;
    std::unique_ptr<VMGraphics> createCanvas(VMBitmap& bitmap) override;
};

// What a front end calls once per machine, before loading its image, to give it graphics.
void installGraphics(VirtualMachine& vm);
