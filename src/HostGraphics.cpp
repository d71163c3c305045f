#include "HostGraphics.h"

#include "BitmapContainer.h"
#include "GraphicsContainer.h"
#include "NativeFont.h"
#include "VirtualMachine.h"
#include "ZarnokFont.h"

std::unique_ptr<VMBitmap> HostGraphics::createBitmap(TInt32 width, TInt32 height) {
    return std::make_unique<BitmapContainer>(width, height);
}

std::unique_ptr<VMBitmap> HostGraphics::copyBitmap(VMBitmap& source) {
    auto* bitmap = dynamic_cast<BitmapContainer*>(&source);
    if (!bitmap) return nullptr;
    return std::make_unique<BitmapContainer>(*bitmap);
}

std::unique_ptr<VMBitmap> HostGraphics::decodeBitmap(const TUint8* bytes, TInt32 count) {
    if (count <= 0) return nullptr;
    QPixmap pixmap;
    if (!pixmap.loadFromData(bytes, uint(count), nullptr, Qt::AutoColor)) return nullptr;
    return std::make_unique<BitmapContainer>(pixmap);
}

std::unique_ptr<CAppsFont> HostGraphics::decodeFont(const TUint8* bytes, TInt32 count) {
    if (count <= 0) return nullptr;
    QImage image;
    if (!image.loadFromData(bytes, count)) return nullptr;
    return std::make_unique<ZarnokFont>(
        image.convertToFormat(QImage::Format_ARGB32, Qt::AutoColor));
}

std::unique_ptr<CAppsFont> HostGraphics::createNativeFont() {
    return std::make_unique<NativeFont>();
}

std::unique_ptr<VMGraphics> HostGraphics::createCanvas(VMBitmap& bitmap) {
    auto* pixels = dynamic_cast<BitmapContainer*>(&bitmap);
    if (!pixels) raise(KErrVM, "GraphicsContainer: invalid bitmap");
    return std::make_unique<GraphicsContainer>(*pixels);
}

void installGraphics(VirtualMachine& vm) {
    vm.setGraphics(std::make_unique<HostGraphics>());
}
