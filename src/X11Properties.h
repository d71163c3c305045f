#pragma once

#include "Types.h"

#include <optional>

// The window manager's properties on the root window of the toolkit's display. Every function
// does nothing (and reports nothing) when the toolkit does not run on X11.
namespace X11Properties {

// Makes the root window report property changes, which the toolkit then delivers as native
// events, without taking away the events the toolkit itself selected.
void watchRoot();

// Writes "_HILDON_PORTRAIT_MODE_REQUEST" (CARDINAL, 32 bits) on the root window, when that atom
// exists. False only when the server refused the change.
bool writePortraitRequest(TUint32 value);

// The first window of "_MB_CURRENT_APP_WINDOW" when an xcb event is the PropertyNotify
// that announces its new value on the root window; nothing for every other event, and for a
// property that is not a WINDOW holding at least one item.
std::optional<TUint32> currentAppWindowChange(const void* xcbEvent);

} // namespace X11Properties
