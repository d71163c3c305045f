#include "WrapperUtilities.h"

#include "AppsFileIO.h"
#include "ErrorHandling.h"
#include "FrameworkServices.h"
#include "GraphicsHandle.h"
#include "NativeGroups.h"
#include "VectorObject.h"
#include "VirtualMachine.h"

#include <string>

namespace {

[[noreturn]] void raiseRange(const std::string& text) {
    raise(KErrRange, "Invalid Range, " + text);
}

} // namespace

// Sums are formed in 64 bits so that large arguments cannot wrap past the bounds. The texts,
// odd spacing included, are the ones applications already match on.
void checkRange(TInt32 lower, TInt32 size, TInt32 first, TInt32& count) {
    const TInt64 upper = TInt64(lower) + size;
    if (count == 0) {
        if (first < 0)
            raiseRange("first should be non-negative (first=" + std::to_string(first) + ")");
    } else if (count < 0) {
        if (first < lower) {
            raiseRange("first should not be less than " + std::to_string(lower) +
                       ", first = " + std::to_string(first));
        }
        if (first > upper) {
            raiseRange("first should not be more than " + std::to_string(upper) +
                       ", first = " + std::to_string(first));
        }
        count = TInt32(upper - first);
    } else {
        if (first < lower) {
            raiseRange("first should not be less than" + std::to_string(lower) +
                       ", first =  " + std::to_string(first));
        }
        if (TInt64(first) + count > upper) {
            raiseRange("range out of bounds: " + std::to_string(TInt64(first) + count) + " > " +
                       std::to_string(upper));
        }
    }
}

// ---- Loading bitmaps and bitmap fonts

Address LoadBitmap(VirtualMachine& vm, const TUint8* bytes, TInt32 count, TBool asFont) {
    if (count <= 0) return 0;
    GraphicsFactory& graphics = graphicsOf(vm);
    if (asFont) {
        std::unique_ptr<CAppsFont> font = graphics.decodeFont(bytes, count);
        return font ? vm.heap().allocateNative(std::move(font), 4, GC_CODE_FONT) : 0;
    }
    std::unique_ptr<VMBitmap> bitmap = graphics.decodeBitmap(bytes, count);
    return bitmap ? newBitmapHandle(vm.heap(), newBitmapEntry(vm.heap(), std::move(bitmap))) : 0;
}

Address LoadBitmap(VirtualMachine& vm, const OVector& bytes, TInt32 first, TInt32 count,
                   TBool asFont) {
    const TInt32 length = bytes.count();
    if (length <= 0 || first < 0) return 0;
    if (count == -1) count = length - first;
    if (count < 0 || TInt64(first) + count > length) return 0;
    if (count == 0) return 0;
    // The decoders copy what they keep, so the view into the arena may be handed over as it is.
    return LoadBitmap(vm, bytes.elementBytesAt(first, count), count, asFont);
}

Address LoadBitmapFromFile(VirtualMachine& vm, const OString& path, TBool asFont) {
    if (path.isEmpty()) raise(KErrInvalidArgument, "Filename is empty");
    const CAppsString name = path.toCAppsString();
    std::unique_ptr<ZARNOK::FileInputStream> reader(hostServices(vm).openFileForReading(name));
    if (!reader) raise(KErrIO, CAppsString("Could not open file: ").append(name));
    const TInt32 size = reader->streamSize();
    if (size <= 0) raise(KErrInvalidArgument, "File is empty");
    Vec<TUint8> vec;
    vec.resize(size);
    Z_CHECK(vec.size() == reader->streamSize());
    const bool read = reader->read(vec.data(), size);
    reader.reset();
    if (!read) raise(KErrIO);
    return LoadBitmap(vm, vec.data(), vec.size(), asFont);
}
