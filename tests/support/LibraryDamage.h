// Type libraries damaged in place, at the spots the loader follows: lists
// that run in a circle (the loader allocates at every link, for ever) and
// records that point elsewhere.
#pragma once

#include "support/TestSupport.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

namespace vandrel::test {

// A library's bytes and the places in them damage cases, found by
// the MSFT layout (Custom.tlb, Alpha.tlb): the header, the type-info offsets, then a directory of
// 15 segments (the fixtures have no help DLL word).
struct Library {
    explicit Library(const wchar_t* fixture) : bytes(ReadBytes(Fixture(fixture))) {}
    int32_t Int(size_t at) const {
        int32_t value;
        std::memcpy(&value, bytes.data() + at, sizeof value);
        return value;
    }
    void Set(size_t at, int32_t value) { std::memcpy(bytes.data() + at, &value, sizeof value); }
    size_t Directory() const { return 0x54 + 4 * static_cast<size_t>(Int(0x20)); }
    int32_t Segment(int n) const { return Int(Directory() + 16 * n); }
    // The first function or variable record of type info `type`.
    size_t Members(int type) const {
        return static_cast<size_t>(Int(Segment(0) + 0x64 * type + 4)) + 4;
    }
    // The custom-data entry (an offset in segment 12) of Custom.idl's value
    // 6a1c1e2e-...-1f0e9d2a7cf<tag>: 0 the library, 1 the type, 2 the
    // variable, 3 the function, 4 its parameter, 5 its parameter with a
    // default value.
    int32_t Entry(int tag) const {
        const GUID guid = {
            0x6a1c1e2e,
            0x0b7d,
            0x4e0a,
            {0x9c, 0x53, 0x1f, 0x0e, 0x9d, 0x2a, 0x7c, static_cast<BYTE>(0xF0 + tag)}};
        const size_t found = bytes.find(std::string(reinterpret_cast<const char*>(&guid), 16));
        const int32_t named = static_cast<int32_t>(found) - Segment(5);
        for (int32_t at = 0; found != std::string::npos && at < Int(Directory() + 16 * 12 + 4);
             at += 12)
            if (Int(Segment(12) + at) == named) return at;
        throw std::runtime_error("no such custom value in the library");
    }
    // A copy of `entry` after the end of the file, linked to `next`, or to
    // itself when `next` is omitted; its offset in segment 12.
    int32_t Append(int32_t entry, int32_t next = 0) {
        const auto at = static_cast<int32_t>(bytes.size()) - Segment(12);
        bytes += bytes.substr(Segment(12) + entry, 12);
        Set(bytes.size() - 4, next ? next : at);
        return at;
    }
    std::string bytes;
};

// A library of `types` enumerations that all read one block of `values`
// constants: the loader reads that block once for each.
inline std::string SharedMembers(uint32_t types, uint32_t values) {
    const uint32_t directory = 0x54 + 4 * types, typeInfos = directory + 15 * 16;
    const uint32_t block = typeInfos + 0x64 * types;
    std::string bytes(block + 4 + values * (0x14 + 12), '\0');
    auto set = [&](size_t at, uint32_t value) { std::memcpy(bytes.data() + at, &value, 4); };
    std::memcpy(bytes.data(), "MSFT", 4);
    set(0x04, 0x00010002);
    set(0x20, types);
    set(0x40, 0xFFFFFFFF); // no custom data
    for (uint32_t n = 0; n < 15; ++n)
        set(directory + 16 * n, 0xFFFFFFFF);
    set(directory, typeInfos);
    set(directory + 4, 0x64 * types);
    for (uint32_t i = 0; i < types; ++i) {
        set(0x54 + 4 * i, 0x64 * i);
        set(typeInfos + 0x64 * i + 0x04, block);
        set(typeInfos + 0x64 * i + 0x18, values << 16);
        set(typeInfos + 0x64 * i + 0x48, 0xFFFFFFFF);
    }
    set(block, 0x14 * values);
    for (uint32_t v = 0; v < values; ++v) {
        set(block + 4 + 0x14 * v, 0x14);
        set(block + 4 + 0x14 * v + 0x0C, 2);              // a constant
        set(block + 4 + 0x14 * v + 0x10, 0x8C000000 | v); // its value, in place
    }
    return bytes;
}

// Damage to Custom.tlb (type 0 its enumeration, 1 its interface, 2 its
// coclass). Some makes the loader follow a list for ever, allocating at
// every link (`runsAway`).
struct Damage {
    const char* what;
    void (*apply)(Library&);
    bool runsAway;
};
inline void CircleAt(Library& l, int tag) {
    const int32_t entry = l.Entry(tag);
    l.Set(l.Segment(12) + entry + 8, entry);
}
inline const Damage kDamage[] = {
    {"nothing", [](Library&) {}, false},
    {"type-info count past the file", [](Library& l) { l.Set(0x20, 0x7FFFFFFF); }, false},
    {"type-info count -1", [](Library& l) { l.Set(0x20, -1); }, false},
    {"type-info segment past the file",
     [](Library& l) { l.Set(l.Directory(), static_cast<int32_t>(l.bytes.size())); }, false},
    {"type-info segment of length -2", [](Library& l) { l.Set(l.Directory() + 4, -2); }, false},
    {"a type info far beyond its segment", [](Library& l) { l.Set(0x54 + 4, 0x7FFFFF00); }, false},
    {"the library's custom data in a circle", [](Library& l) { CircleAt(l, 0); }, true},
    {"a type's custom data in a circle", [](Library& l) { CircleAt(l, 1); }, true},
    {"a variable's custom data in a circle", [](Library& l) { CircleAt(l, 2); }, true},
    {"a function's custom data in a circle", [](Library& l) { CircleAt(l, 3); }, true},
    {"a parameter's custom data in a circle", [](Library& l) { CircleAt(l, 4); }, true},
    {"a defaulted parameter's custom data in a circle", [](Library& l) { CircleAt(l, 5); }, true},
    {"an implemented interface's custom data in a circle",
     [](Library& l) { l.Set(l.Segment(3) + 8, l.Append(l.Entry(2))); }, true},
    {"custom data that leaves its segment and circles beyond it",
     [](Library& l) { l.Set(l.Segment(12) + l.Entry(3) + 8, l.Append(l.Entry(3))); }, true},
    {"custom data that leaves its segment and ends beyond it",
     [](Library& l) { l.Set(l.Segment(12) + l.Entry(3) + 8, l.Append(l.Entry(3), -1)); }, false},
    {"a custom value that runs past the end of the file",
     [](Library& l) { l.Set(l.Segment(11) + l.Int(l.Segment(12) + l.Entry(0) + 4) + 2, 1 << 30); },
     false},
    {"a function record shorter than its fixed fields",
     [](Library& l) { l.Set(l.Members(1), 0x10); }, false},
    // The loader reads as many implemented interfaces as the coclass says,
    // wherever their links lead.
    {"implemented interfaces in a circle", [](Library& l) { l.Set(l.Segment(3) + 12, 0); }, false},
    // Wine's loader takes a variable record's size from its lowest byte.
    {"a variable record's size above its lowest byte",
     [](Library& l) { l.Set(l.Members(0), l.Int(l.Members(0)) + 0x100); }, false},
    {"two types reading one block of constants",
     [](Library& l) { l.bytes = SharedMembers(2, 1000); }, false},
    {"20,000 types reading one block of 1,000 constants",
     [](Library& l) { l.bytes = SharedMembers(20000, 1000); }, false},
};

} // namespace vandrel::test
