// The "Graphics:" group: drawing on canvases, the screen's or a bitmap's.

#include "GraphicsNatives.h"

#include "GraphicsHandle.h"
#include "NumericNatives.h"
#include "VirtualMachine.h"
#include "WrapperUtilities.h"

namespace {

const char* const kPrefix = "Graphics:";

class GraphicsCall {
public:
    GraphicsCall(VirtualMachine& vm, TInt32 slots) : vm(vm), heap(vm.heap()), args(vm, slots) {}

    // The object in the box of argument k; a null box raises code 1, 0 is an unset object.
    Address object(TInt32 k) const {
        const Address box = args.address(k);
        if (box == 0) raiseNullPointer();
        return vm.arena().word(box);
    }
    GraphicsPoint point(TInt32 k) const { return {args[k], args[k + 1]}; }
    GraphicsRect rect(TInt32 k) const { return {args[k], args[k + 1], args[k + 2], args[k + 3]}; }
    TInt64 fixed(TInt32 k) const { return joinWords(args.word(k), args.word(k + 1)); }
    VMBitmap* bitmap(Address handle) const { return bitmapObject(heap, bitmapOf(heap, handle)); }

    void drawBitmap() {
        const Address canvas = object(0);
        const Address source = object(1);
        if (canvas != 0 && source != 0) {
            detachCanvas(heap, source);
            VMBitmap* pixels = bitmap(source);
            if (canvas != source && pixels) {
                if (VMGraphics* target = containerOf(vm, canvas))
                    target->drawBitmap(pixels, point(2), args[4]);
            }
        }
        args.drop();
    }

    void drawText(bool withRange) {
        const Address canvas = object(0);
        const OString text = vm.stringValue(args.address(1));
        TInt32 first = 0;
        TInt32 count = text.length();
        const TInt32 at = withRange ? 4 : 2;
        if (withRange) {
            first = args[2];
            count = args[3];
            checkRange(0, text.length(), first, count);
        }
        const Address font = object(at + 3);
        CAppsFont* fontObject = graphicsCast<CAppsFont>(heap.nativeObject(font));
        if (canvas != 0 && fontObject) {
            if (VMGraphics* target = containerOf(vm, canvas))
                target->drawText(text.units(), first, count, point(at), args.word(at + 2),
                                 *fontObject);
        }
        args.drop();
    }

    void fillRect() {
        if (const Address canvas = object(0)) {
            if (VMGraphics* target = containerOf(vm, canvas))
                target->fillRect(rect(1), args.word(5));
        }
        args.drop();
    }

    void drawLine() {
        if (const Address canvas = object(0)) {
            if (VMGraphics* target = containerOf(vm, canvas))
                target->drawLine(point(1), point(3), args.word(5));
        }
        args.drop();
    }

    void drawTiled() {
        const Address canvas = object(0);
        const Address source = object(1);
        if (canvas != 0 && source != 0) {
            detachCanvas(heap, source);
            VMBitmap* pixels = bitmap(source);
            if (VMGraphics* target = containerOf(vm, canvas))
                target->drawTiled(rect(2), pixels, point(6));
        }
        args.drop();
    }

    void drawRegion() {
        const Address canvas = object(0);
        const Address source = object(1);
        if (canvas != 0 && source != 0) {
            VMBitmap* pixels = bitmap(source);
            if (VMGraphics* target = containerOf(vm, canvas))
                target->drawBitmapRegion(pixels, point(2), rect(4), args[8]);
        }
        args.drop();
    }

    void clear() {
        if (const Address canvas = object(0)) {
            const TUint32 colour = args.word(1);
            if (heap.arena().word(canvas) == BITMAP_TYPE_ID) {
                detachCanvas(heap, canvas);
                if (VMBitmap* pixels = bitmap(canvas)) pixels->fill(colour);
            } else if (VMGraphics* target = containerOf(vm, canvas)) {
                target->clear(colour);
            }
        }
        args.drop();
    }

    void checkReferences() {
        for (TInt32 k = 0; k < 4; ++k) {
            if (args[k] == 0) raiseNullPointer();
        }
        args.drop();
    }

    void drawTransformed() {
        const Address canvas = object(0);
        const Address source = object(1);
        if (canvas != 0 && source != 0) {
            VMBitmap* pixels = bitmap(source);
            if (VMGraphics* target = containerOf(vm, canvas))
                target->drawTransformed(pixels, point(2), fixed(4), fixed(6), fixed(8), args[10]);
        }
        args.drop();
    }

private:
    VirtualMachine& vm;
    VMHeap& heap;
    NativeArguments args;
};

} // namespace

void graphicsNative(VirtualMachine& vm, TInt32 function) {
    switch (function) {
    case 1: return GraphicsCall(vm, 5).drawBitmap();
    case 2: return GraphicsCall(vm, 6).drawText(false);
    case 3: return GraphicsCall(vm, 8).drawText(true);
    case 4: return GraphicsCall(vm, 6).fillRect();
    case 5: return GraphicsCall(vm, 6).drawLine();
    case 6: return GraphicsCall(vm, 9).drawTiled();
    case 7: return GraphicsCall(vm, 9).drawRegion();
    case 8: return GraphicsCall(vm, 2).clear();
    case 9: return GraphicsCall(vm, 5).checkReferences();
    case 10: return GraphicsCall(vm, 11).drawTransformed();
    default: vm.raiseUnknownFunction(kPrefix);
    }
}
