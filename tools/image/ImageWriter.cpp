#include "Image.h"

#include <algorithm>

namespace {

class Writer {
public:
    void byte(std::uint8_t b) { out.push_back(b); }
    void int32(std::int32_t v) { varint(4, v); }
    void varint(int width, std::int32_t v) {
        auto u = static_cast<std::uint32_t>(v);
        for (int i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(u >> (8 * i)));
    }
    void name(const std::string& s) {
        int32(static_cast<std::int32_t>(s.size()));
        out.insert(out.end(), s.begin(), s.end());
    }
    void list(int width, const std::vector<std::int32_t>& values) {
        int32(static_cast<std::int32_t>(values.size()));
        for (std::int32_t v : values) varint(width, v);
    }
    void flaggedList(int width, const std::vector<Image::Flagged>& values) {
        int32(static_cast<std::int32_t>(values.size()));
        for (const Image::Flagged& f : values) {
            byte(f.flag);
            varint(width, f.value);
        }
    }
    std::vector<std::uint8_t> out;
};

using Values = std::vector<std::int32_t>;

void add(Values& values, const std::vector<Image::Flagged>& flagged) {
    for (const Image::Flagged& f : flagged) values.push_back(f.value);
}

std::array<Values, Image::kWidthCount> valuesByWidth(const Image& image) {
    std::array<Values, Image::kWidthCount> v;
    for (const auto& m : image.exportedMethods) {
        v[Image::CodeOffset].push_back(m.codeOffset);
        v[Image::MethodIndex].push_back(m.methodIndex);
    }
    for (const auto& m : image.virtualMethods) {
        v[Image::EntryCount].push_back(static_cast<std::int32_t>(m.entries.size()));
        for (const auto& e : m.entries) {
            v[Image::TypeId].push_back(e.typeId);
            v[Image::CodeOffset].push_back(e.codeOffset);
            v[Image::MethodIndex].push_back(e.methodIndex);
        }
    }
    for (const auto& t : image.types) {
        v[Image::SuperFlag].push_back(t.superFlag);
        if (t.superFlag != 0) v[Image::TypeId].push_back(t.superType);
        v[Image::InterfaceCount].push_back(static_cast<std::int32_t>(t.interfaces.size()));
        v[Image::TypeId].insert(v[Image::TypeId].end(), t.interfaces.begin(), t.interfaces.end());
    }
    for (const auto& m : image.methods) {
        v[Image::ArgSlots].push_back(m.argSlots);
        v[Image::ExtraSlots].push_back(m.extraSlots);
        v[Image::LocalSlots].push_back(m.localSlots);
    }
    return v;
}

} // namespace

std::uint8_t widthFor(const std::vector<std::int32_t>& values) {
    std::uint8_t width = 1;
    for (std::int32_t v : values) {
        if (v < 0 || v > 0xFFFF) return 4;
        if (v > 0xFF) width = 2;
    }
    return width;
}

std::vector<std::uint8_t> writeImage(const Image& image) {
    std::array<std::uint8_t, Image::kWidthCount> w = image.widths;
    auto values = valuesByWidth(image);
    for (int i = 0; i < Image::kWidthCount; ++i)
        if (w[i] == 0) w[i] = widthFor(values[i]);

    Writer out;
    out.byte(image.identifierLength);
    out.out.insert(out.out.end(), image.identifier.begin(), image.identifier.end());
    out.byte(0xFF);
    out.byte(0xFF);
    for (std::uint8_t width : w) out.byte(width);

    out.int32(static_cast<std::int32_t>(image.exportedMethods.size()));
    for (const auto& m : image.exportedMethods) {
        out.name(m.name);
        out.varint(w[Image::CodeOffset], m.codeOffset);
        out.varint(w[Image::MethodIndex], m.methodIndex);
    }
    out.int32(static_cast<std::int32_t>(image.virtualMethods.size()));
    for (const auto& m : image.virtualMethods) {
        out.name(m.name);
        out.varint(w[Image::EntryCount], static_cast<std::int32_t>(m.entries.size()));
        for (const auto& e : m.entries) {
            out.varint(w[Image::TypeId], e.typeId);
            out.varint(w[Image::CodeOffset], e.codeOffset);
            out.varint(w[Image::MethodIndex], e.methodIndex);
        }
    }
    out.int32(static_cast<std::int32_t>(image.types.size()));
    for (const auto& t : image.types) {
        Values all = t.refOffsets;
        add(all, t.flaggedOffsets);
        int e = t.elementWidth ? t.elementWidth : widthFor(all);
        out.byte(static_cast<std::uint8_t>(e));
        out.list(e, t.refOffsets);
        out.flaggedList(e, t.flaggedOffsets);
        out.varint(w[Image::SuperFlag], t.superFlag);
        if (t.superFlag != 0) out.varint(w[Image::TypeId], t.superType);
        out.varint(w[Image::InterfaceCount], static_cast<std::int32_t>(t.interfaces.size()));
        for (std::int32_t i : t.interfaces) out.varint(w[Image::TypeId], i);
    }
    out.int32(static_cast<std::int32_t>(image.methods.size()));
    for (const auto& m : image.methods) {
        Values all = m.offsetsA;
        add(all, m.offsetsB);
        all.insert(all.end(), m.offsetsC.begin(), m.offsetsC.end());
        add(all, m.offsetsD);
        int e = m.elementWidth ? m.elementWidth : widthFor(all);
        out.byte(static_cast<std::uint8_t>(e));
        out.varint(w[Image::ArgSlots], m.argSlots);
        out.list(e, m.offsetsA);
        out.flaggedList(e, m.offsetsB);
        out.varint(w[Image::ExtraSlots], m.extraSlots);
        out.varint(w[Image::LocalSlots], m.localSlots);
        out.list(e, m.offsetsC);
        out.flaggedList(e, m.offsetsD);
    }
    out.int32(static_cast<std::int32_t>(image.strings.size()));
    for (const auto& s : image.strings) out.name(s);
    out.out.insert(out.out.end(), image.code.begin(), image.code.end());
    return out.out;
}
