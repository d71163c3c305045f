#pragma once

#include "CAppsString.h"
#include "Types.h"

#include <string>
#include <string_view>
#include <vector>

// One step of a zentu-run event script; README.md gives the syntax.
struct ScriptStep {
    enum Kind {
        KeyPress,
        KeyRelease,
        PointerPress,
        PointerRelease,
        PointerMove,
        Foreground,
        Background,
        Wait,
        AwaitLog,
        Draw,
    };
    Kind kind = Foreground;
    int line = 0;
    TInt32 key = 0;
    TInt32 scanCode = 0;
    TInt32 x = 0;
    TInt32 y = 0;
    TInt32 modifiers = 0;
    TInt32 milliseconds = 0;
    CAppsString text; // the key's text, the awaited log line, or the PNG a draw writes
};

// Parses a whole script. On the first error it returns false with "line N: message" in error.
bool parseEventScript(std::string_view source, std::vector<ScriptStep>& steps, std::string& error);
