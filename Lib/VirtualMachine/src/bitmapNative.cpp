// The "Bitmap:" group: creating, loading, copying, reading, writing, resizing and encoding
// bitmaps.

#include "GraphicsNatives.h"

#include "FrameworkServices.h"
#include "GraphicsHandle.h"
#include "VectorObject.h"
#include "VirtualMachine.h"
#include "WrapperUtilities.h"

#include <string>

namespace {

const char* const kPrefix = "Bitmap:";

// Larger bitmaps are refused rather than left to an allocation that may not be there.
constexpr TInt64 kMaxSide = 32768;
constexpr TInt64 kMaxPixels = TInt64(1) << 26;

std::string joined(std::initializer_list<TInt32> numbers) {
    std::string text;
    for (TInt32 n : numbers) {
        if (!text.empty()) text += ", ";
        text += std::to_string(n);
    }
    return text;
}

class BitmapCall {
public:
    BitmapCall(VirtualMachine& vm, TInt32 slots) : vm(vm), heap(vm.heap()), args(vm, slots) {}

    // 1: target, size, colour
    void create() {
        const Address target = targetBox();
        const TInt32 width = args[1];
        const TInt32 height = args[2];
        if (width < 0) raise(KErrInvalidArgument, "Width should be non-negative");
        if (height < 0) raise(KErrInvalidArgument, "Height should be non-negative");
        Address bitmap = 0;
        if (width != 0 && height != 0) bitmap = newFilledBitmap(width, height, args.word(3));
        store(target, bitmap);
    }

    // 2: target, source, rectangle
    void copyRegion() {
        const Address target = targetBox();
        const Address source = setObject(1);
        detachCanvas(heap, source);
        VMBitmap* pixels = bitmapObject(heap, bitmapOf(heap, source));
        const TInt32 x = args[2], y = args[3], width = args[4], height = args[5];
        const std::string r = joined({x, y, width, height});
        if (!pixels) {
            if (x != 0 || y != 0 || width != 0 || height != 0) {
                raise(KErrInvalidArgument, "Source rectangle (" + r +
                                               ") should be inside the bounds of the source "
                                               "bitmap, the bitmap is empty");
            }
            return store(target, 0);
        }
        TInt32 w = 0, h = 0;
        pixels->size(w, h);
        if (x < 0 || y < 0 || width < 0 || height < 0 || TInt64(x) + width > w ||
            TInt64(y) + height > h) {
            raise(KErrInvalidArgument, "Source rectangle (" + r +
                                           ") should be inside the bounds of the source bitmap: "
                                           "(" +
                                           joined({w, h}) + ")");
        }
        Address copy = 0;
        if (TInt64(width) * height != 0) {
            std::unique_ptr<VMBitmap> created = newBitmap(width, height);
            created->copyFrom(pixels, x, y, width, height);
            copy = newBitmapEntry(heap, std::move(created));
        }
        store(target, copy);
    }

    // 3: target, path
    void loadFile() {
        const Address target = targetBox();
        const Address handle = LoadBitmapFromFile(vm, pathValue(vm, args.address(1)), false);
        storeLoaded(target, handle);
    }

    // 4: target, bytes; 5: target, bytes, range
    void loadBytes(bool withRange) {
        const Address target = targetBox();
        const OVector bytes = OVector::ofValue(heap, args.address(1), 1);
        TInt32 first = 0;
        TInt32 count = -1;
        if (withRange) {
            first = args[2];
            count = args[3];
            checkRange(0, bytes.count(), first, count);
            if (count == 0) raise(KErrInvalidArgument, "size is zero");
        } else if (bytes.count() == 0) {
            raise(KErrInvalidArgument, "byte[] is empty");
        }
        storeLoaded(target, LoadBitmap(vm, bytes, first, count, false));
    }

    // 6: target, source
    void copy() {
        const Address target = targetBox();
        const Address source = setObject(1);
        detachCanvas(heap, source);
        VMBitmap* pixels = bitmapObject(heap, bitmapOf(heap, source));
        Address bitmap = 0;
        if (pixels) {
            std::unique_ptr<VMBitmap> copied = graphicsOf(vm).copyBitmap(*pixels);
            if (copied) bitmap = newBitmapEntry(heap, std::move(copied));
        }
        store(target, bitmap);
    }

    // 7: bitmap, position -> colour
    void pixel() {
        const TInt32 x = args[1], y = args[2];
        VMBitmap* pixels = detachedBitmap();
        if (!pixels) {
            raise(KErrInvalidArgument, "Position (" + joined({x, y}) +
                                           ") is outside the bounds of the bitmap, the bitmap is "
                                           "empty");
        }
        checkInside(*pixels, x, y);
        args.result(TInt32(pixels->pixel(x, y)));
    }

    // 8: bitmap -> size
    void size() {
        TInt32 width = 0, height = 0;
        const Address handle = setObject(0);
        if (VMBitmap* pixels = bitmapObject(heap, bitmapOf(heap, handle)))
            pixels->size(width, height);
        args.result(width, height);
    }

    // 9: bitmap, position, colour
    void setPixel() {
        const TInt32 x = args[1], y = args[2];
        VMBitmap* pixels = detachedBitmap();
        if (!pixels) {
            raise(KErrInvalidArgument,
                  "Position is outside the bounds of the bitmap: the bitmap is empty");
        }
        checkInside(*pixels, x, y);
        pixels->setPixel(x, y, args.word(3));
        args.drop();
    }

    // 10, 11: fast; 12: smooth
    void resize(bool smooth) {
        const Address handle = setObject(0);
        detachCanvas(heap, handle);
        VMBitmap* pixels = bitmapObject(heap, bitmapOf(heap, handle));
        const TInt32 width = args[1], height = args[2];
        // A negative size leaves an empty bitmap, as a zero one does.
        const bool empty = width <= 0 || height <= 0;
        if (!pixels) {
            if (!empty) setBitmap(heap, handle, newFilledBitmap(width, height, 0xFF000000));
        } else if (empty) {
            setBitmap(heap, handle, 0);
        } else {
            TInt32 w = 0, h = 0;
            pixels->size(w, h);
            if (w != width || h != height) {
                std::unique_ptr<VMBitmap> scaled = newBitmap(width, height);
                scaled->scaleFrom(pixels, smooth ? 10 : 0);
                setBitmap(heap, handle, newBitmapEntry(heap, std::move(scaled)));
            }
        }
        args.drop();
    }

    // 13: bitmap, format -> byte vector
    void encode() {
        static const char* const kFormats[] = {"jpg", "png", "gif", "bmp"};
        const TInt32 format = args[1];
        const char* name = format >= 1 && format <= 4 ? kFormats[format - 1] : "";
        FrameworkServices* host = vm.services();
        if (host) host->bitmapHint(0);
        VMBitmap* pixels = detachedBitmap();
        Vec<TUint8> encoded;
        if (pixels && !pixels->encode(encoded, name)) encoded.clear();
        if (host) host->bitmapHint(1);
        args.result(TInt32(newByteVectorValue(heap, encoded.data(), encoded.size())));
    }

private:
    Address targetBox() const {
        const Address box = args.address(0);
        if (box == 0) raiseNullPointer();
        return box;
    }
    // The object of argument k; a null box or an unset object raises code 1.
    Address setObject(TInt32 k) const {
        const Address box = args.address(k);
        const Address object = box ? vm.arena().word(box) : 0;
        if (object == 0) raiseNullPointer();
        return object;
    }
    VMBitmap* detachedBitmap() {
        const Address handle = setObject(0);
        detachCanvas(heap, handle);
        return bitmapObject(heap, bitmapOf(heap, handle));
    }
    void checkInside(VMBitmap& pixels, TInt32 x, TInt32 y) {
        TInt32 w = 0, h = 0;
        pixels.size(w, h);
        if (x < 0 || x >= w || y < 0 || y >= h) {
            raise(KErrInvalidArgument, "Position (" + joined({x, y}) +
                                           ") is outside the bounds of the bitmap: (" +
                                           joined({w, h}) + ")");
        }
    }
    std::unique_ptr<VMBitmap> newBitmap(TInt32 width, TInt32 height) {
        if (width > kMaxSide || height > kMaxSide || TInt64(width) * height > kMaxPixels)
            raise(KErrInvalidArgument, "Out of memory");
        return graphicsOf(vm).createBitmap(width, height);
    }
    Address newFilledBitmap(TInt32 width, TInt32 height, TUint32 colour) {
        std::unique_ptr<VMBitmap> created = newBitmap(width, height);
        created->fill(colour);
        return newBitmapEntry(heap, std::move(created));
    }
    void store(Address target, Address bitmap) {
        const Address handle = newBitmapHandle(heap, bitmap);
        vm.arena().setWord(target, handle);
        args.drop();
    }
    void storeLoaded(Address target, Address handle) {
        if (handle == 0) raise(KErrInvalidArgument, "Could not load image");
        vm.arena().setWord(target, handle);
        args.drop();
    }

    VirtualMachine& vm;
    VMHeap& heap;
    NativeArguments args;
};

} // namespace

void bitmapNative(VirtualMachine& vm, TInt32 function) {
    switch (function) {
    case 1: return BitmapCall(vm, 4).create();
    case 2: return BitmapCall(vm, 6).copyRegion();
    case 3: return BitmapCall(vm, 2).loadFile();
    case 4: return BitmapCall(vm, 2).loadBytes(false);
    case 5: return BitmapCall(vm, 4).loadBytes(true);
    case 6: return BitmapCall(vm, 2).copy();
    case 7: return BitmapCall(vm, 3).pixel();
    case 8: return BitmapCall(vm, 1).size();
    case 9: return BitmapCall(vm, 4).setPixel();
    case 10:
    case 11: return BitmapCall(vm, 3).resize(false);
    case 12: return BitmapCall(vm, 3).resize(true);
    case 13: return BitmapCall(vm, 2).encode();
    default: vm.raiseUnknownFunction(kPrefix);
    }
}
