#pragma once

#include "Types.h"

#include <QPixmap>
#include <QRegion>

class VirtualMachine;

// The screen canvas of one repaint: a painter on the back buffer, clipped to the region, in a
// screen handle for the draw event:
//
//     ScreenCanvas canvas(vm, backBuffer, region);
//     vm.drawEvent(canvas.handle());
//
// The destructor ends the painting (if the collector has not already), so the back buffer can
// be shown afterwards, also when the application keeps the canvas.
class ScreenCanvas {
public:
    ScreenCanvas(VirtualMachine& vm, QPixmap& backBuffer, const QRegion& clip);
    ~ScreenCanvas();
    ScreenCanvas(const ScreenCanvas&) = delete;
    ScreenCanvas& operator=(const ScreenCanvas&) = delete;

    // The GraphicsHandle (TYPEID 1) to pass to VirtualMachine::drawEvent.
    Address handle() const { return screenHandle; }

private:
    VirtualMachine& vm;
    Address container;
    TUint32 containerHandle; // its native-object handle, to find it only while it lives
    Address screenHandle;
};
