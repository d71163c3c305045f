// The event-script parser of zentu-run on any text: it fails with "line N: " and a message for a
// line of the text, or gives steps that, written back as a script, parse into the same steps.

#include "EventScript.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

[[noreturn]] void broken(const char* what, const std::string& detail) {
    std::fprintf(stderr, "event-script target: %s\n%s\n", what, detail.c_str());
    std::abort();
}

std::string quoted(const CAppsString& text) {
    static const char* digits = "0123456789abcdef";
    std::string out = "\"";
    for (int i = 0; i < text.size(); ++i) {
        const unsigned unit = text[i];
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) out += digits[(unit >> shift) & 15];
    }
    return out + "\"";
}

// The step as a line of a script, every operand written out.
std::string written(const ScriptStep& step) {
    const auto number = [](TInt32 value) { return " " + std::to_string(value); };
    const auto pointer = [&](const char* action) {
        return std::string("pointer ") + action + number(step.x) + number(step.y) +
               number(step.modifiers);
    };
    switch (step.kind) {
    case ScriptStep::KeyPress:
    case ScriptStep::KeyRelease:
        return std::string(step.kind == ScriptStep::KeyPress ? "key press" : "key release") +
               number(step.key) + " " + quoted(step.text) + number(step.scanCode);
    case ScriptStep::PointerPress: return pointer("press");
    case ScriptStep::PointerRelease: return pointer("release");
    case ScriptStep::PointerMove: return pointer("move");
    case ScriptStep::Foreground: return "foreground";
    case ScriptStep::Background: return "background";
    case ScriptStep::Wait: return "wait" + number(step.milliseconds);
    case ScriptStep::AwaitLog: return "await-log " + quoted(step.text);
    case ScriptStep::Draw: return "draw " + quoted(step.text);
    }
    broken("a step of no kind", std::to_string(step.kind));
}

bool sameStep(const ScriptStep& a, const ScriptStep& b) {
    return a.kind == b.kind && a.key == b.key && a.scanCode == b.scanCode && a.x == b.x &&
           a.y == b.y && a.modifiers == b.modifiers && a.milliseconds == b.milliseconds &&
           a.text == b.text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 16) return -1;
    const std::string_view source(reinterpret_cast<const char*>(data), size);
    const long lines = std::count(source.begin(), source.end(), '\n') + 1;
    std::vector<ScriptStep> steps;
    std::string error;
    if (!parseEventScript(source, steps, error)) {
        long line = 0;
        if (std::sscanf(error.c_str(), "line %ld: ", &line) != 1 || line < 1 || line > lines ||
            error.find(": ") == std::string::npos)
            broken("an error that names no line of the text", error);
        return 0;
    }
    std::string again;
    int previousLine = 0;
    for (const ScriptStep& step : steps) {
        if (step.line <= previousLine || step.line > lines) broken("a step out of line order", "");
        if (step.kind == ScriptStep::Wait && step.milliseconds < 0) broken("a negative wait", "");
        previousLine = step.line;
        again += written(step) + "\n";
    }
    std::vector<ScriptStep> reparsed;
    if (!parseEventScript(again, reparsed, error)) broken("the written steps do not parse", error);
    if (reparsed.size() != steps.size() ||
        !std::equal(steps.begin(), steps.end(), reparsed.begin(), sameStep))
        broken("the written steps parse into other steps", again);
    return 0;
}
