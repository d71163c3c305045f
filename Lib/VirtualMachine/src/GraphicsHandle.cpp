#include "GraphicsHandle.h"

#include "GraphicsNatives.h"
#include "VirtualMachine.h"

GraphicsFactory& graphicsOf(VirtualMachine& vm) {
    if (vm.graphics() == nullptr) raise(KErrUnsupportedFeature, "No graphics");
    return *vm.graphics();
}

namespace {

Address newHandle(VMHeap& heap, TUint32 typeId, Address container, Address bitmap) {
    const Address handle = heap.allocate(12, 0, GC_CODE_TAGGED_REFERENCES);
    Arena& arena = heap.arena();
    arena.setWord(handle, typeId);
    arena.setWord(handle + 4, container);
    arena.setWord(handle + 8, bitmap);
    return handle;
}

TUint32 typeIdOf(VMHeap& heap, Address handle) {
    if (handle == 0) raiseNullPointer();
    return heap.arena().word(handle);
}

VMGraphics* canvasObject(VMHeap& heap, Address container) {
    return graphicsCast<VMGraphics>(heap.nativeObject(container));
}

} // namespace

Address newBitmapHandle(VMHeap& heap, Address bitmap) {
    return newHandle(heap, BITMAP_TYPE_ID, 0, bitmap);
}

Address newScreenHandle(VMHeap& heap, Address container) {
    return newHandle(heap, SCREEN_TYPE_ID, container, 0);
}

Address newBitmapEntry(VMHeap& heap, std::unique_ptr<VMBitmap> bitmap) {
    return heap.allocateNative(std::move(bitmap), 4, GC_CODE_PLAIN);
}

Address newCanvasEntry(VMHeap& heap, std::unique_ptr<VMGraphics> canvas) {
    return heap.allocateNative(std::move(canvas), 4, GC_CODE_PLAIN);
}

Address bitmapOf(VMHeap& heap, Address handle) {
    if (typeIdOf(heap, handle) != BITMAP_TYPE_ID) raise(KErrVM, "Invalid typeid on bitmap");
    return heap.arena().word(handle + 8);
}

VMBitmap* bitmapObject(VMHeap& heap, Address bitmap) {
    return graphicsCast<VMBitmap>(heap.nativeObject(bitmap));
}

void detachCanvas(VMHeap& heap, Address handle) {
    if (typeIdOf(heap, handle) != BITMAP_TYPE_ID) raise(KErrVM, "Invalid bitmap handle");
    const Address container = heap.arena().word(handle + 4);
    if (container == 0) return;
    if (VMGraphics* canvas = canvasObject(heap, container)) canvas->end();
    heap.arena().setWord(handle + 4, 0);
}

void setBitmap(VMHeap& heap, Address handle, Address bitmap) {
    if (typeIdOf(heap, handle) != BITMAP_TYPE_ID) raise(KErrVM);
    heap.arena().setWord(handle + 8, bitmap);
}

VMGraphics* containerOf(VirtualMachine& vm, Address handle) {
    VMHeap& heap = vm.heap();
    const TUint32 typeId = typeIdOf(heap, handle);
    if (typeId != SCREEN_TYPE_ID && typeId != BITMAP_TYPE_ID)
        raise(KErrVM, "Invalid object type ID");
    if (VMGraphics* canvas = canvasObject(heap, heap.arena().word(handle + 4))) return canvas;
    if (typeId == SCREEN_TYPE_ID) return nullptr;
    VMBitmap* bitmap = bitmapObject(heap, heap.arena().word(handle + 8));
    if (!bitmap) return nullptr;
    std::unique_ptr<VMGraphics> created = graphicsOf(vm).createCanvas(*bitmap);
    VMGraphics* canvas = created.get();
    heap.arena().setWord(handle + 4, newCanvasEntry(heap, std::move(created)));
    return canvas;
}

NativeArguments::NativeArguments(VirtualMachine& vm, TInt32 count)
    : vm(vm), count(count), base(vm.sp - count + 1) {}

TInt32 NativeArguments::operator[](TInt32 k) const {
    return vm.slot(base + k);
}

void NativeArguments::drop() {
    vm.sp -= count;
}

void NativeArguments::result(TInt32 value) {
    drop();
    vm.push(value);
}

void NativeArguments::result(TInt32 first, TInt32 second) {
    drop();
    vm.push(first);
    vm.push(second);
}

OString pathValue(VirtualMachine& vm, Address value) {
    if (value == 0 || vm.arena().word(value) == 0) return OString(vm.arena());
    return vm.stringValue(value);
}
