// The "Font:" group: measuring text with a font; and the font values of System 10 to 12.

#include "GraphicsNatives.h"

#include "GraphicsHandle.h"
#include "VectorObject.h"
#include "VirtualMachine.h"
#include "WrapperUtilities.h"

namespace {

const char* const kPrefix = "Font:";

// The font object of a font value: a null box raises code 1, an unset one gives null.
CAppsFont* fontAt(VirtualMachine& vm, Address box) {
    if (box == 0) raiseNullPointer();
    return graphicsCast<CAppsFont>(vm.heap().nativeObject(vm.arena().word(box)));
}

Address boxed(VirtualMachine& vm, Address font) {
    const Address box = vm.heap().allocate(4, 0, GC_CODE_REFERENCE_BOX);
    vm.arena().setWord(box, font);
    return box;
}

void measure(VirtualMachine& vm, TInt32 slots, bool withRange, bool fitting) {
    NativeArguments args(vm, slots);
    CAppsFont* font = fontAt(vm, args.address(0));
    const OString text = vm.stringValue(args.address(1));
    TInt32 first = 0;
    TInt32 count = text.length();
    if (withRange) {
        first = args[2];
        count = args[3];
        checkRange(0, text.length(), first, count);
    }
    TInt32 result = 0;
    if (font && fitting)
        result = font->charsThatFit(text.units(), first, count, args[slots - 1]);
    else if (font)
        result = font->stringWidth(text.units(), first, count);
    args.result(result);
}

} // namespace

void fontNative(VirtualMachine& vm, TInt32 function) {
    switch (function) {
    case 2:
    case 3: {
        NativeArguments args(vm, 1);
        CAppsFont* font = fontAt(vm, args.address(0));
        return args.result(!font ? 0 : function == 2 ? font->height() : font->ascent());
    }
    case 4: return measure(vm, 2, false, false);
    case 5: return measure(vm, 4, true, false);
    case 6: return measure(vm, 3, false, true);
    case 7: return measure(vm, 5, true, true);
    default: vm.raiseUnknownFunction(kPrefix);
    }
}

Address newNativeFontValue(VirtualMachine& vm) {
    std::unique_ptr<CAppsFont> font = graphicsOf(vm).createNativeFont();
    return boxed(vm, vm.heap().allocateNative(std::move(font), 4, GC_CODE_FONT));
}

Address loadFontValueFromFile(VirtualMachine& vm, Address path) {
    const Address font = LoadBitmapFromFile(vm, ::pathValue(vm, path), true);
    if (font == 0) raise(KErrInvalidArgument);
    return boxed(vm, font);
}

Address loadFontValueFromBytes(VirtualMachine& vm, Address byteVectorValue) {
    const OVector bytes = OVector::ofValue(vm.heap(), byteVectorValue, 1);
    if (bytes.count() == 0) raise(KErrInvalidArgument, "byte[] is empty");
    const Address font = LoadBitmap(vm, bytes, 0, -1, true);
    if (font == 0) raise(KErrInvalidArgument);
    return boxed(vm, font);
}
