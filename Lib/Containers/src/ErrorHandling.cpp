#include "ErrorHandling.h"

#include "CAppsString.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

struct LastError {
    TInt32 code = 0;
    CAppsString text;
};

LastError& lastError() {
    thread_local LastError error;
    return error;
}

const char* const kNames[] = {nullptr,
                              "NullPointerException",
                              "IndexOutOfBoundsException",
                              "DivisionByZeroException",
                              "DataFormatException: ",
                              "RangeException",
                              "InvalidArgumentException",
                              "IOException",
                              "MathException",
                              "AssertionFailedException",
                              "VMException",
                              nullptr,
                              nullptr,
                              "UnsupportedFeatureException"};

// "Lib/VirtualMachine/src/Heap" from ".../Lib/VirtualMachine/src/Heap.cpp".
std::string sourceName(const char* file) {
    std::string path(file);
    size_t start = path.rfind("/Lib/");
    if (start == std::string::npos) start = path.rfind("/src/");
    if (start == std::string::npos) start = path.rfind("/tools/");
    if (start != std::string::npos) path.erase(0, start + 1);
    size_t dot = path.rfind('.');
    if (dot != std::string::npos && path.find('/', dot) == std::string::npos) path.erase(dot);
    return path;
}

} // namespace

std::string errorName(TInt32 code) {
    if (code > 0 && code < TInt32(std::size(kNames)) && kNames[code]) return kNames[code];
    return "UnknownException (CODE:" + std::to_string(code) + ")";
}

void raise(TInt32 code, const CAppsString& message) {
    // message may be the pending last error text itself: build the new text aside first.
    CAppsString text(errorName(code));
    if (!message.isEmpty()) text.append(": ").append(message);
    LastError& error = lastError();
    error.code = code;
    error.text = std::move(text);
    throw ErrorHandlingException();
}

void raise(TInt32 code, const char* message) {
    raise(code, CAppsString(message));
}
void raise(TInt32 code, const std::string& message) {
    raise(code, CAppsString(message));
}

TInt32 lastErrorCode() {
    return lastError().code;
}
const CAppsString& lastErrorText() {
    return lastError().text;
}

void clearLastError() {
    lastError().code = 0;
    lastError().text.clear();
}

void raiseNullPointer() {
    raise(KErrNullPointer, "NULL pointer");
}

void raiseIndexError(int, int) {
    raise(KErrInvalidArgument);
}

void internalCheckFailed(const char* expression, const char* file, const char* function) {
    std::fprintf(stderr, "ASSERT: \"%s\" in %s, %s\n", expression, sourceName(file).c_str(),
                 function);
    std::fflush(stderr);
    std::abort();
}
