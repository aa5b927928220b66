#include "support/HostileLibraries.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vandrel::test {
namespace {

// Little-endian writes into a byte string that grows as needed.
class Bytes {
public:
    void Word(size_t at, uint16_t value) { Put(at, &value, 2); }
    void Dword(size_t at, uint32_t value) { Put(at, &value, 4); }
    void Text(size_t at, const std::string& text) { Put(at, text.data(), text.size()); }
    size_t size() const { return bytes_.size(); }
    std::string Take() { return std::move(bytes_); }

private:
    void Put(size_t at, const void* data, size_t size) {
        if (bytes_.size() < at + size) bytes_.resize(at + size, '\0');
        std::memcpy(bytes_.data() + at, data, size);
    }
    std::string bytes_;
};

constexpr uint32_t kNone = 0xFFFFFFFF;

// An MSFT library with `types` type infos and every segment empty, as widl
// lays one out: the 0x54-byte header, the type infos' offsets, then the
// directory of 15 segments {offset, length, -1, 0x0F}. Returns where the
// directory starts; segments go after it.
size_t MsftSkeleton(Bytes& out, uint32_t types) {
    out.Text(0x00, "MSFT");
    out.Dword(0x04, 0x00010002);
    out.Dword(0x08, kNone); // no library GUID
    out.Dword(0x14, 1);     // SYS_WIN32
    out.Dword(0x20, types);
    for (size_t at : {0x24, 0x38, 0x3C, 0x40, 0x4C}) // help string, name, help file,
        out.Dword(at, kNone);                        // custom data, dispatch: none
    const size_t directory = 0x54 + 4 * static_cast<size_t>(types);
    for (uint32_t i = 0; i < types; ++i)
        out.Dword(0x54 + 4 * i, 0x64 * i);
    for (size_t n = 0; n < 15; ++n) {
        out.Dword(directory + 16 * n, kNone);
        out.Dword(directory + 16 * n + 4, 0);
        out.Dword(directory + 16 * n + 8, kNone);
        out.Dword(directory + 16 * n + 12, 0x0F);
    }
    return directory;
}

// Places segment `n` (0 type infos, 12 custom data GUID entries, ...) at the
// end of the library and returns its offset.
size_t AppendSegment(Bytes& out, size_t directory, int n, const std::string& content) {
    const size_t at = out.size();
    out.Dword(directory + 16 * n, static_cast<uint32_t>(at));
    out.Dword(directory + 16 * n + 4, static_cast<uint32_t>(content.size()));
    out.Text(at, content);
    return at;
}

} // namespace

std::string SpinningSltg() {
    // The 0x24-byte header says two file blocks, so one block entry follows
    // it; the first block is entry 1. The loader looks for the library's
    // own block by following `next` until it reads 0, and this entry's
    // `next` is 1: itself. The magic block behind the entry is what the
    // loader checks before it starts.
    Bytes out;
    out.Text(0x00, "SLTG");
    out.Word(0x04, 2); // file blocks: the block entries and one
    out.Word(0x06, 9);
    out.Word(0x0A, 1);  // the first block's entry, counted from 1
    out.Dword(0x24, 0); // the entry: its block's length,
    out.Word(0x28, 0);  // its name,
    out.Word(0x2A, 1);  // and the entry after it
    out.Text(0x2C, std::string("\x01"
                               "CompObj\0"
                               "dir",
                               13)); // ends in the bytes' own 0
    return out.Take();
}

std::string RunawayAllocation() {
    // The header's custom data starts at entry 0 of segment 12, whose
    // entries are {GUID offset, value, next}; the value is packed in place
    // (negative: VT_I4 0), so the loader reads nothing else per link, and
    // the only entry's next is 0.
    Bytes out;
    const size_t directory = MsftSkeleton(out, 0);
    out.Dword(0x40, 0);
    Bytes entry;
    entry.Dword(0, kNone);
    entry.Dword(4, 0x8C000000);
    entry.Dword(8, 0);
    AppendSegment(out, directory, 12, entry.Take());
    return out.Take();
}

std::string CrashingLibrary() {
    // One type info of kind TKIND_ALIAS (6) whose aliased type, datatype1
    // at 0x54, is 0: not a built-in type (those are negative) but the first
    // entry of the type descriptions' segment. That segment is empty, so the
    // loader's table of them was never allocated and it reads entry 0 of a
    // null table.
    Bytes out;
    const size_t directory = MsftSkeleton(out, 1);
    Bytes type;
    type.Dword(0x00, 6);
    for (size_t at : {0x2C, 0x34, 0x3C, 0x48}) // GUID, name, documentation, custom data
        type.Dword(at, kNone);
    type.Dword(0x54, 0);
    type.Dword(0x60, 0);
    AppendSegment(out, directory, 0, type.Take());
    return out.Take();
}

std::string NeModule(const std::string& typeLibrary) {
    // The loader reads the DOS header's e_lfanew, checks "NE" there, and
    // walks the resource table that starts ne_rsrctab bytes into the NE
    // header and ends where ne_restab starts: an alignment shift, the types
    // {name, count, loader} each followed by its resources {offset, length,
    // flags, id | 0x8000, handle, usage}, a 0, then the names as counted
    // strings. Offsets and lengths are in units of 1 << shift.
    constexpr size_t kNe = 0x40, kTable = kNe + 0x40, kTypeName = 24;
    const std::string name("\x07TYPELIB", 8);
    const size_t tableSize = kTypeName + name.size() + 1;
    const size_t data = (kTable + tableSize + 1 + 15) / 16 * 16;
    uint16_t shift = 4;
    while ((data >> shift) > 0xFFFF || ((typeLibrary.size() + (1u << shift) - 1) >> shift) > 0xFFFF)
        ++shift;
    const auto units = [&](size_t bytes) {
        return static_cast<uint16_t>((bytes + (size_t{1} << shift) - 1) >> shift);
    };
    Bytes out;
    out.Text(0x00, "MZ");
    out.Word(0x18, 0x40); // relocations past the DOS header: a new-style image
    out.Dword(0x3C, kNe);
    out.Text(kNe, "NE");
    out.Word(kNe + 0x24, static_cast<uint16_t>(kTable - kNe));
    out.Word(kNe + 0x26, static_cast<uint16_t>(kTable - kNe + tableSize));
    out.Text(kNe + 0x36, "\x02"); // for Windows
    out.Word(kTable, shift);
    out.Word(kTable + 2, kTypeName);
    out.Word(kTable + 4, 1);
    out.Word(kTable + 10, units(data));
    out.Word(kTable + 12, units(typeLibrary.size()));
    out.Word(kTable + 14, 0x0030); // moveable, pure
    out.Word(kTable + 16, 0x8001);
    out.Text(kTable + kTypeName, name);
    out.Text(kTable + tableSize, std::string(1, '\0')); // no resident names
    out.Text(data, typeLibrary);
    return out.Take();
}

std::string Szdd(const std::string& bytes) {
    // Header: magic, method 'A', the name's missing last character (none),
    // the expanded length. Then groups of a flag byte and up to eight items,
    // a set bit meaning a literal byte.
    std::string out("SZDD\x88\xF0\x27\x33"
                    "A",
                    9);
    out += '\0';
    const auto length = static_cast<uint32_t>(bytes.size());
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>(length >> (8 * i) & 0xFF);
    for (size_t at = 0; at < bytes.size(); at += 8) {
        out += '\xFF';
        out.append(bytes, at, 8);
    }
    return out;
}

} // namespace vandrel::test
