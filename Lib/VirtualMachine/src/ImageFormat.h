#pragma once

// The nine varint widths of an image's width header, in their order, as messages name them.
inline constexpr int kImageWidthCount = 9;
inline constexpr const char* kImageWidthNames[kImageWidthCount] = {
    "code offset", "method index", "type id",     "super flag", "interface count",
    "arg slots",   "extra slots",  "local slots", "entry count"};
