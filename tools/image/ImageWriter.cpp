#include "Image.h"

namespace {

using Values = std::vector<std::int32_t>;

class Writer {
public:
    explicit Writer(const Image& image) : image(image), w(effectiveWidths(image)) {}

    std::vector<std::uint8_t> write() {
        header();
        exportedMethods();
        virtualMethods();
        types();
        methods();
        strings();
        out.insert(out.end(), image.code.begin(), image.code.end());
        return std::move(out);
    }

private:
    void header() {
        byte(image.identifierLength);
        bytes(image.identifier.begin(), image.identifier.end());
        bytes(image.marker.begin(), image.marker.end());
        for (std::uint8_t width : w) byte(width);
    }

    void exportedMethods() {
        tableStart(Image::Exports, image.exportedMethods.size());
        int i = 0;
        for (const auto& m : image.exportedMethods) {
            recordStart(i);
            name({Image::Exports, i, Image::Count::Name}, m.name);
            varint(w[Image::CodeOffset], m.codeOffset);
            varint(w[Image::MethodIndex], m.methodIndex);
            ++i;
        }
        recordStart(i);
    }

    void virtualMethods() {
        tableStart(Image::Virtuals, image.virtualMethods.size());
        int i = 0;
        for (const auto& m : image.virtualMethods) {
            recordStart(i);
            name({Image::Virtuals, i, Image::Count::Name}, m.name);
            Image::CountAt entries{Image::Virtuals, i, Image::Count::Entries};
            varint(w[Image::EntryCount], writtenCount(image, entries, m.entries.size()));
            for (const auto& e : m.entries) {
                varint(w[Image::TypeId], e.typeId);
                varint(w[Image::CodeOffset], e.codeOffset);
                varint(w[Image::MethodIndex], e.methodIndex);
            }
            ++i;
        }
        recordStart(i);
    }

    void types() {
        tableStart(Image::Types, image.types.size());
        int i = 0;
        for (const auto& t : image.types) {
            recordStart(i);
            int e = t.elementWidth ? t.elementWidth : automaticElementWidth(t);
            byte(static_cast<std::uint8_t>(e));
            list({Image::Types, i, Image::Count::ListA}, e, t.refOffsets);
            flaggedList({Image::Types, i, Image::Count::ListB}, e, t.flaggedOffsets);
            varint(w[Image::SuperFlag], t.superFlag);
            if (t.superFlag != 0) varint(w[Image::TypeId], t.superType);
            Image::CountAt interfaces{Image::Types, i, Image::Count::Interfaces};
            varint(w[Image::InterfaceCount], writtenCount(image, interfaces, t.interfaces.size()));
            for (std::int32_t id : t.interfaces) varint(w[Image::TypeId], id);
            ++i;
        }
        recordStart(i);
    }

    void methods() {
        tableStart(Image::Methods, image.methods.size());
        int i = 0;
        for (const auto& m : image.methods) {
            recordStart(i);
            int e = m.elementWidth ? m.elementWidth : automaticElementWidth(m);
            byte(static_cast<std::uint8_t>(e));
            varint(w[Image::ArgSlots], m.argSlots);
            list({Image::Methods, i, Image::Count::ListA}, e, m.offsetsA);
            flaggedList({Image::Methods, i, Image::Count::ListB}, e, m.offsetsB);
            varint(w[Image::ExtraSlots], m.extraSlots);
            varint(w[Image::LocalSlots], m.localSlots);
            list({Image::Methods, i, Image::Count::ListC}, e, m.offsetsC);
            flaggedList({Image::Methods, i, Image::Count::ListD}, e, m.offsetsD);
            ++i;
        }
        recordStart(i);
    }

    void strings() {
        tableStart(Image::Strings, image.strings.size());
        int i = 0;
        for (const auto& s : image.strings) {
            recordStart(i);
            name({Image::Strings, i, Image::Count::Name}, s);
            ++i;
        }
        recordStart(i);
    }

    // The raw bytes before the table's count, then the count.
    void tableStart(Image::Table table, std::size_t size) {
        current = table;
        recordStart(-1);
        int32(writtenCount(image, {table, -1, Image::Count::Records}, size));
    }
    void recordStart(int record) {
        auto raw = image.raw.find({current, record});
        if (raw != image.raw.end()) bytes(raw->second.begin(), raw->second.end());
    }

    void byte(std::uint8_t b) { out.push_back(b); }
    template <class It> void bytes(It begin, It end) { out.insert(out.end(), begin, end); }
    void int32(std::int32_t v) { varint(4, v); }
    void varint(int width, std::int32_t v) {
        auto u = static_cast<std::uint32_t>(v);
        for (int i = 0; i < width; ++i) byte(i < 4 ? static_cast<std::uint8_t>(u >> (8 * i)) : 0);
    }
    void name(Image::CountAt at, const std::string& s) {
        int32(writtenCount(image, at, s.size()));
        bytes(s.begin(), s.end());
    }
    void list(Image::CountAt at, int width, const Values& values) {
        int32(writtenCount(image, at, values.size()));
        for (std::int32_t v : values) varint(width, v);
    }
    void flaggedList(Image::CountAt at, int width, const std::vector<Image::Flagged>& values) {
        int32(writtenCount(image, at, values.size()));
        for (const Image::Flagged& f : values) {
            byte(f.flag);
            varint(width, f.value);
        }
    }

    const Image& image;
    std::array<std::uint8_t, Image::kWidthCount> w;
    Image::Table current = Image::Exports;
    std::vector<std::uint8_t> out;
};

void add(Values& values, const std::vector<Image::Flagged>& flagged) {
    for (const Image::Flagged& f : flagged) values.push_back(f.value);
}

void add(Values& values, const Values& more) {
    values.insert(values.end(), more.begin(), more.end());
}

std::int32_t count(const Image& image, Image::Table table, int record, Image::Count what,
                   std::size_t size) {
    return writtenCount(image, {table, record, what}, size);
}

std::array<Values, Image::kWidthCount> valuesByWidth(const Image& image) {
    std::array<Values, Image::kWidthCount> v;
    for (const auto& m : image.exportedMethods) {
        v[Image::CodeOffset].push_back(m.codeOffset);
        v[Image::MethodIndex].push_back(m.methodIndex);
    }
    for (int i = 0; i < static_cast<int>(image.virtualMethods.size()); ++i) {
        const auto& m = image.virtualMethods[i];
        v[Image::EntryCount].push_back(
            count(image, Image::Virtuals, i, Image::Count::Entries, m.entries.size()));
        for (const auto& e : m.entries) {
            v[Image::TypeId].push_back(e.typeId);
            v[Image::CodeOffset].push_back(e.codeOffset);
            v[Image::MethodIndex].push_back(e.methodIndex);
        }
    }
    for (int i = 0; i < static_cast<int>(image.types.size()); ++i) {
        const auto& t = image.types[i];
        v[Image::SuperFlag].push_back(t.superFlag);
        if (t.superFlag != 0) v[Image::TypeId].push_back(t.superType);
        v[Image::InterfaceCount].push_back(
            count(image, Image::Types, i, Image::Count::Interfaces, t.interfaces.size()));
        add(v[Image::TypeId], t.interfaces);
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

std::array<std::uint8_t, Image::kWidthCount> automaticWidths(const Image& image) {
    std::array<std::uint8_t, Image::kWidthCount> w{};
    auto values = valuesByWidth(image);
    for (int i = 0; i < Image::kWidthCount; ++i) w[i] = widthFor(values[i]);
    return w;
}

std::array<std::uint8_t, Image::kWidthCount> effectiveWidths(const Image& image) {
    std::array<std::uint8_t, Image::kWidthCount> w = automaticWidths(image);
    for (int i = 0; i < Image::kWidthCount; ++i)
        if (image.widths[i]) w[i] = *image.widths[i];
    return w;
}

std::uint8_t automaticElementWidth(const Image::Type& type) {
    Values all = type.refOffsets;
    add(all, type.flaggedOffsets);
    return widthFor(all);
}

std::uint8_t automaticElementWidth(const Image::MethodInfo& method) {
    Values all = method.offsetsA;
    add(all, method.offsetsB);
    add(all, method.offsetsC);
    add(all, method.offsetsD);
    return widthFor(all);
}

std::int32_t writtenCount(const Image& image, Image::CountAt at, std::size_t size) {
    auto given = image.counts.find(at);
    return given != image.counts.end() ? given->second : static_cast<std::int32_t>(size);
}

std::vector<std::uint8_t> writeImage(const Image& image) {
    return Writer(image).write();
}

int Image::recordCount(Table table) const {
    switch (table) {
    case Exports: return static_cast<int>(exportedMethods.size());
    case Virtuals: return static_cast<int>(virtualMethods.size());
    case Types: return static_cast<int>(types.size());
    case Methods: return static_cast<int>(methods.size());
    case Strings: return static_cast<int>(strings.size());
    }
    return 0;
}
