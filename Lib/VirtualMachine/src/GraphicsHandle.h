#pragma once

// GraphicsHandle: the three arena words behind an application's Bitmap and Graphics values,
// in an entry of gc code 16 that the collector follows:
//   word 0  TYPEID: SCREEN_TYPE_ID or BITMAP_TYPE_ID
//   word 1  the GraphicsContainer painting on the target, or 0
//   word 2  bitmaps: the BitmapContainer, 0 for an empty bitmap
// Containers and bitmaps are native entries whose objects live in host memory; a word that
// does not lead to a live object of the right kind counts as none.

#include "Graphics.h"
#include "Heap.h"

#include <cstddef>
#include <typeinfo>

class OVector;
class OString;
class VirtualMachine;

// dynamic_cast<T*>(object), remembering the answer for the last dynamic type seen: pixel
// loops ask about the same kind of object millions of times. The offset of a base within a
// given most-derived type never changes, so the remembered answer stays right.
template <class T> T* graphicsCast(GCObject* object) {
    if (object == nullptr) return nullptr;
    thread_local const std::type_info* lastType = nullptr;
    thread_local std::ptrdiff_t lastOffset = 0;
    thread_local bool lastMatched = false;
    const std::type_info* type = &typeid(*object);
    if (type != lastType) {
        T* cast = dynamic_cast<T*>(object);
        lastType = type;
        lastMatched = cast != nullptr;
        lastOffset = cast ? reinterpret_cast<char*>(cast) - reinterpret_cast<char*>(object) : 0;
        return cast;
    }
    return lastMatched ? reinterpret_cast<T*>(reinterpret_cast<char*>(object) + lastOffset)
                       : nullptr;
}

constexpr TUint32 SCREEN_TYPE_ID = 1;
constexpr TUint32 BITMAP_TYPE_ID = 2;

// The installed host graphics; a machine without them raises code 13 "No graphics".
GraphicsFactory& graphicsOf(VirtualMachine& vm);

Address newBitmapHandle(VMHeap& heap, Address bitmap);
Address newScreenHandle(VMHeap& heap, Address container);
// A native entry of gc code 2 holding the object.
Address newBitmapEntry(VMHeap& heap, std::unique_ptr<VMBitmap> bitmap);
Address newCanvasEntry(VMHeap& heap, std::unique_ptr<VMGraphics> canvas);

// Word 2 of a bitmap handle; another TYPEID raises code 10 "Invalid typeid on bitmap".
Address bitmapOf(VMHeap& heap, Address handle);
// The bitmap object of a bitmap entry, or null.
VMBitmap* bitmapObject(VMHeap& heap, Address bitmap);
// Ends the painter of a bitmap handle and clears word 1; another TYPEID raises code 10
// "Invalid bitmap handle".
void detachCanvas(VMHeap& heap, Address handle);
// Another TYPEID raises code 10 with an empty message.
void setBitmap(VMHeap& heap, Address handle, Address bitmap);
// The painter of a canvas handle, made on first use for a bitmap; null for an empty bitmap or
// a screen handle without one. Another TYPEID raises code 10 "Invalid object type ID".
VMGraphics* containerOf(VirtualMachine& vm, Address handle);

// A new bitmap handle (asFont false) or font object (asFont true) from count bytes of the byte
// vector from first (count -1: to the end); 0 for an empty or out-of-range part or data that
// does not decode.
Address LoadBitmap(VirtualMachine& vm, const OVector& bytes, TInt32 first, TInt32 count,
                   TBool asFont);
Address LoadBitmap(VirtualMachine& vm, const TUint8* bytes, TInt32 count, TBool asFont);
// The same from a file's whole contents; file errors raise codes 6 and 7.
Address LoadBitmapFromFile(VirtualMachine& vm, const OString& path, TBool asFont);
// The path of a string value for LoadBitmapFromFile: a null reference or unset string is the
// empty path, which it refuses as "Filename is empty" rather than as a null pointer.
OString pathValue(VirtualMachine& vm, Address value);
