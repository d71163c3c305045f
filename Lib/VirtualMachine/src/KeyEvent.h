#pragma once

#include "GCObject.h"
#include "OString.h"

class VMHeap;

namespace Zarnok {

// A key press or release as the host reports it. It lives in the machine's heap (gc code 2,
// not pinned) like any object the application can hold; freeing it releases the text.
class KeyEvent : public GCObject {
public:
    KeyEvent(TInt32 key, TInt32 scanCode, TInt32 modifiers, OString text)
        : key(key), scanCode(scanCode), modifiers(modifiers), text(std::move(text)) {}

    TInt32 key;       // the mapped key code
    TInt32 scanCode;  // the platform's native scan code
    TInt32 modifiers; // always 0 from the hosts of this platform
    OString text;     // what the key produced
};

// A new key event in the heap; returns its reference.
Address newKeyEvent(VMHeap& heap, TInt32 key, TInt32 scanCode, TInt32 modifiers,
                    const CAppsString& text);

} // namespace Zarnok
