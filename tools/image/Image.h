#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The contents of an index.mcb image as the compiler lays them out, before relocation.
// Widths of 0 and element widths of 0 are chosen as the smallest that fit when written.
struct Image {
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

    std::uint8_t identifierLength = 20;
    std::array<std::uint8_t, 20> identifier{};
    std::array<std::uint8_t, kWidthCount> widths{}; // 0: smallest that fits
    std::vector<ExportedMethod> exportedMethods;
    std::vector<VirtualMethod> virtualMethods;
    std::vector<Type> types;
    std::vector<MethodInfo> methods;
    std::vector<std::string> strings; // UTF-8 bytes, not checked
    std::vector<std::uint8_t> code;

    bool operator==(const Image&) const = default;
};

// The smallest of the widths 1, 2 and 4 that holds every value (4 for negative values).
std::uint8_t widthFor(const std::vector<std::int32_t>& values);

// Serialises the image; widths left at 0 are chosen from the values they must hold.
std::vector<std::uint8_t> writeImage(const Image& image);
