#pragma once

#include "Types.h"

#include <string>

class CAppsString;

// Error codes raised by the machine and the natives; 11 and 12 end the current entry call.
enum ErrorCode : TInt32 {
    KErrNullPointer = 1,
    KErrIndexOutOfBounds = 2,
    KErrDivisionByZero = 3,
    KErrDataFormat = 4,
    KErrRange = 5,
    KErrInvalidArgument = 6,
    KErrIO = 7,
    KErrMath = 8,
    KErrAssertionFailed = 9,
    KErrVM = 10,
    KErrFatal = 11,
    KErrExit = 12,
    KErrUnsupportedFeature = 13,
};

// Thrown by raise(); the code and text are in the thread's last error.
struct ErrorHandlingException {};

// Records "<name>[: message]" as the thread's last error and throws ErrorHandlingException.
// The one-argument form is a default argument: a separate raise(TInt32) would clash with the C
// library's int raise(int) from <signal.h>.
[[noreturn]] void raise(TInt32 code, const char* message = "");
[[noreturn]] void raise(TInt32 code, const std::string& message);
[[noreturn]] void raise(TInt32 code, const CAppsString& message);

// The exception name for a code ("UnknownException (CODE:42)" for unnamed codes).
std::string errorName(TInt32 code);

TInt32 lastErrorCode();
const CAppsString& lastErrorText();
void clearLastError();

[[noreturn]] void raiseIndexError(int index, int size);
// Code 1 with "NULL pointer": a null reference or address was dereferenced.
[[noreturn]] void raiseNullPointer();

// Internal invariant check: prints the expression, the source and the operation, then aborts.
[[noreturn]] void internalCheckFailed(const char* expression, const char* file,
                                      const char* function);
#define Z_CHECK(expression)                                                                        \
    ((expression) ? static_cast<void>(0)                                                           \
                  : internalCheckFailed(#expression, __FILE__, __PRETTY_FUNCTION__))
