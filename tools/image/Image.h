#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// The contents of an index.mcb image as the compiler lays them out, before relocation.
// Widths left unset and element widths of 0 are chosen as the smallest that fit when written.
struct Image {
    using Bytes = std::vector<std::uint8_t>;

    static constexpr int kWidthCount = 9;
    enum Width {
        CodeOffset,
        MethodIndex,
        TypeId,
        SuperFlag,
        InterfaceCount,
        ArgSlots,
        ExtraSlots,
        LocalSlots,
        EntryCount
    };
    static constexpr int kTableCount = 5;
    enum Table { Exports, Virtuals, Types, Methods, Strings };

    struct Flagged {
        std::uint8_t flag = 0; // 0, or 0xFF for "elements are references"
        std::int32_t value = 0;
        bool operator==(const Flagged&) const = default;
    };
    struct ExportedMethod {
        std::string name;
        std::int32_t codeOffset = 0;
        std::int32_t methodIndex = 0;
        bool operator==(const ExportedMethod&) const = default;
    };
    struct VirtualEntry {
        std::int32_t typeId = 0;
        std::int32_t codeOffset = 0;
        std::int32_t methodIndex = 0;
        bool operator==(const VirtualEntry&) const = default;
    };
    struct VirtualMethod {
        std::string name;
        std::vector<VirtualEntry> entries;
        bool operator==(const VirtualMethod&) const = default;
    };
    struct Type {
        std::uint8_t elementWidth = 0;
        std::vector<std::int32_t> refOffsets; // list A
        std::vector<Flagged> flaggedOffsets;  // list B
        std::int32_t superFlag = 0;           // 0: no super type
        std::int32_t superType = 0;
        std::vector<std::int32_t> interfaces;
        bool operator==(const Type&) const = default;
    };
    struct MethodInfo {
        std::uint8_t elementWidth = 0;
        std::int32_t argSlots = 0;
        std::vector<std::int32_t> offsetsA;
        std::vector<Flagged> offsetsB;
        std::int32_t extraSlots = 0;
        std::int32_t localSlots = 0;
        std::vector<std::int32_t> offsetsC;
        std::vector<Flagged> offsetsD;
        bool operator==(const MethodInfo&) const = default;
    };

    // Escape hatches for malformed images. A count written instead of the real number of
    // elements: of a whole table (record -1) or of one list of record `record`.
    enum class Count : std::uint8_t {
        Records,
        Name,
        Entries,
        ListA,
        ListB,
        ListC,
        ListD,
        Interfaces
    };
    struct CountAt {
        Table table;
        int record;
        Count count;
        auto operator<=>(const CountAt&) const = default;
    };
    // Raw bytes written before record `before` of a table: -1 is before the table's count,
    // the number of records is after the last one (for the string table: the start of the code).
    struct RawAt {
        Table table;
        int before;
        auto operator<=>(const RawAt&) const = default;
    };

    std::uint8_t identifierLength = 20;
    std::array<std::uint8_t, 20> identifier{};
    std::array<std::uint8_t, 2> marker{0xFF, 0xFF};
    std::array<std::optional<std::uint8_t>, kWidthCount> widths{}; // unset: smallest that fits
    std::vector<ExportedMethod> exportedMethods;
    std::vector<VirtualMethod> virtualMethods;
    std::vector<Type> types;
    std::vector<MethodInfo> methods;
    std::vector<std::string> strings; // UTF-8 bytes, not checked
    std::vector<std::uint8_t> code;
    std::map<CountAt, std::int32_t> counts;
    std::map<RawAt, Bytes> raw;

    // Records in the given table.
    int recordCount(Table table) const;

    bool operator==(const Image&) const = default;
};

// The smallest of the widths 1, 2 and 4 that holds every value (4 for negative values).
std::uint8_t widthFor(const std::vector<std::int32_t>& values);

// The widths writeImage uses: the given ones, and the smallest that fit for the others.
std::array<std::uint8_t, Image::kWidthCount> effectiveWidths(const Image& image);
std::array<std::uint8_t, Image::kWidthCount> automaticWidths(const Image& image);
std::uint8_t automaticElementWidth(const Image::Type& type);
std::uint8_t automaticElementWidth(const Image::MethodInfo& method);

// The count written for a list: the override if there is one, else its size.
std::int32_t writtenCount(const Image& image, Image::CountAt at, std::size_t size);

// Serialises the image. A varint of a width other than 1, 2 or 4 is written as that many
// low-order bytes (zeros past the fourth).
std::vector<std::uint8_t> writeImage(const Image& image);

// Why readImage refused the bytes, and at which byte offset.
struct ImageFormatError : std::runtime_error {
    ImageFormatError(std::size_t offset, const std::string& what);
    std::size_t offset;
};

// Parses the bytes exactly as the loader reads them and refuses what it refuses, keeping the
// widths as found so that writeImage reproduces the bytes. Throws ImageFormatError.
Image readImage(const std::vector<std::uint8_t>& bytes);
