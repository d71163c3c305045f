#include "UnicodeUnits.h"

namespace UnicodeUnits::detail {

#include "UnicodeUnitTables.inc"

} // namespace UnicodeUnits::detail
