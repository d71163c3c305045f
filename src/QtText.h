#pragma once

#include "CAppsString.h"

#include <QString>

// Between the runtime's 16-bit strings and Qt's: both hold UTF-16, so units pass unchanged.
// Not QString::fromUtf16, which takes a leading U+FEFF or U+FFFE for a byte order mark.
inline QString toQString(const CAppsString& text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), text.size());
}

inline CAppsString fromQString(const QString& text) {
    return CAppsString(reinterpret_cast<const TUint16*>(text.utf16()), text.size());
}
