#include "ScreenCanvas.h"

#include "GraphicsContainer.h"
#include "GraphicsHandle.h"
#include "VirtualMachine.h"

ScreenCanvas::ScreenCanvas(VirtualMachine& machine, QPixmap& backBuffer, const QRegion& clip)
    : vm(machine) {
    auto painter = std::make_unique<GraphicsContainer>(&backBuffer);
    if (painter->isPainting()) painter->qpainter().setClipRegion(clip, Qt::ReplaceClip);
    VMHeap& heap = vm.heap();
    container = newCanvasEntry(heap, std::move(painter));
    containerHandle = heap.arena().word(container);
    screenHandle = newScreenHandle(heap, container);
}

ScreenCanvas::~ScreenCanvas() {
    GCObject* object = vm.heap().natives().find(containerHandle, container - kHeaderSize);
    if (auto* painter = dynamic_cast<GraphicsContainer*>(object)) painter->end();
}
