#include "reliability/DamagedLibraries.h"

#include "common/Owned.h"

#include <oleauto.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <stdexcept>
#include <vector>

namespace vandrel::test {
namespace {

std::wstring BasePath(const std::string& base) {
    std::string name = base;
    bool is64 = VandrelIs64Bit();
    if (const size_t at = name.find('@'); at != std::string::npos) {
        is64 = name.substr(at + 1) == "x64";
        name.resize(at);
    }
    if (name == "widl") return Fixture(L"Alpha.tlb");
    return WineLibraryFolder(is64) + L"\\" + std::wstring(name.begin(), name.end()) +
           (name == "scrrun" ? L".dll" : L".tlb");
}

// The library's own GUID and those of its types, as the platform reads them.
std::vector<GUID> OwnGuids(const std::wstring& path) {
    ComPtr<ITypeLib> library;
    if (::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()) != S_OK)
        throw std::runtime_error("a base library does not load");
    std::vector<GUID> guids;
    TLIBATTR* attr = nullptr;
    if (library->GetLibAttr(&attr) == S_OK) {
        guids.push_back(attr->guid);
        library->ReleaseTLibAttr(attr);
    }
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> info;
        TYPEATTR* type = nullptr;
        if (library->GetTypeInfo(i, info.put()) != S_OK || info->GetTypeAttr(&type) != S_OK)
            continue;
        if (!IsEqualGUID(type->guid, GUID_NULL)) guids.push_back(type->guid);
        info->ReleaseTypeAttr(type);
    }
    return guids;
}

// The base with identities of its own: every occurrence of its GUIDs altered
// in the last two bytes. GUIDs of imported libraries stay as they are.
const std::string& PrivateBase(const std::string& base) {
    static std::map<std::string, std::string> cache;
    auto found = cache.find(base);
    if (found != cache.end()) return found->second;
    const std::wstring path = BasePath(base);
    std::string bytes = ReadBytes(path);
    for (const GUID& guid : OwnGuids(path)) {
        const std::string pattern(reinterpret_cast<const char*>(&guid), sizeof guid);
        for (size_t at = bytes.find(pattern); at != std::string::npos;
             at = bytes.find(pattern, at + sizeof guid)) {
            bytes[at + 14] = static_cast<char>(bytes[at + 14] ^ 0x5A);
            bytes[at + 15] = static_cast<char>(bytes[at + 15] ^ 0xA5);
        }
    }
    return cache.emplace(base, std::move(bytes)).first->second;
}

std::uint32_t ReadWord(const std::string& bytes, size_t at) {
    std::uint32_t value = 0;
    if (at + 4 <= bytes.size()) std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

// Where the MSFT image lies: the whole file, or inside a module the
// resource that starts with the signature, up to the end of its last segment.
struct Range {
    size_t begin = 0, end = 0;
    bool embedded = false;
};

Range LibraryRange(const std::string& bytes) {
    if (bytes.compare(0, 2, "MZ") != 0) return {0, bytes.size(), false};
    const std::string magic("MSFT\x02\x00\x01\x00", 8);
    const size_t begin = bytes.find(magic);
    if (begin == std::string::npos) throw std::runtime_error("no MSFT library in a module");
    size_t directory = begin + 0x54 + 4 * ReadWord(bytes, begin + 0x20);
    if (ReadWord(bytes, begin + 0x14) & 0x100) directory += 4;
    size_t end = directory + 15 * 16;
    for (size_t i = 0; i < 15; ++i) {
        const std::uint32_t offset = ReadWord(bytes, directory + 16 * i);
        const std::uint32_t length = ReadWord(bytes, directory + 16 * i + 4);
        if (offset != 0xFFFFFFFFu) end = std::max(end, begin + offset + length);
    }
    return {begin, std::min(end, bytes.size()), true};
}

std::string Damaged(std::string bytes, Damage kind, std::uint32_t seed) {
    std::mt19937 random(seed * 2654435761u + static_cast<std::uint32_t>(kind));
    if (kind == Damage::Sltg) {
        std::string noise = "SLTG";
        noise.resize(64 + random() % 4032);
        for (size_t i = 4; i < noise.size(); ++i)
            noise[i] = static_cast<char>(random() & 0xFF);
        return noise;
    }
    const Range range = LibraryRange(bytes);
    const size_t size = range.end - range.begin;
    auto anywhere = [&](size_t span) { return range.begin + random() % (size - span); };
    switch (kind) {
    case Damage::BitFlips:
        for (std::uint32_t n = 1 + random() % 4; n > 0; --n) {
            const size_t at = anywhere(0);
            bytes[at] = static_cast<char>(bytes[at] ^ (1 << (random() % 8)));
        }
        break;
    case Damage::Word: {
        const std::uint32_t values[] = {
            0,
            0xFFFFFFFFu,
            0x7FFFFFFFu,
            0x80000000u,
            0x7FFF,
            0x8000,
            0xFFFF,
            0x10000,
            0xFFFFFFFEu,
            static_cast<std::uint32_t>(size),
            static_cast<std::uint32_t>(size - 4),
            static_cast<std::uint32_t>(size + 4),
            static_cast<std::uint32_t>(random() % size),
            static_cast<std::uint32_t>(random() % size & ~3u),
        };
        const std::uint32_t value = values[random() % std::size(values)];
        const size_t at = range.begin + 4 * (random() % (size / 4));
        std::memcpy(bytes.data() + at, &value, 4);
        break;
    }
    case Damage::Duplicate: {
        const size_t length = 1 + random() % std::min<size_t>(256, size / 4);
        const std::string chunk = bytes.substr(anywhere(length), length);
        const size_t at = anywhere(length);
        if (range.embedded)
            bytes.replace(at, length, chunk); // a module's layout must not move
        else
            bytes.insert(at, chunk);
        break;
    }
    case Damage::Delete: {
        const size_t length = 1 + random() % std::min<size_t>(256, size / 4);
        const size_t at = anywhere(length);
        bytes.erase(at, length);
        if (range.embedded) bytes.insert(range.end - length, std::string(length, '\0'));
        break;
    }
    case Damage::Truncate: {
        const size_t at = anywhere(1);
        if (range.embedded)
            std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                      bytes.begin() + static_cast<std::ptrdiff_t>(range.end), '\0');
        else
            bytes.resize(at);
        break;
    }
    case Damage::Sltg:
        break;
    }
    return bytes;
}

} // namespace

// Recorded with Wine 8.0 (Debian 8.0~repack-4) on the builds before the
// guard: each access violation or breakpoint, and the first two runaway
// loads (a loop that allocated without end) of each base and damage.
const Recipe kCrashedBefore[] = {
    {"stdole2@x64", Damage::BitFlips, 1},   // 0xC0000005
    {"stdole2@x64", Damage::Word, 4},       // 0xC0000005
    {"stdole2@x64", Damage::Word, 18},      // 0x80000003
    {"stdole2@x64", Damage::Duplicate, 12}, // 0x80000003
    {"stdole2@x64", Damage::Duplicate, 17}, // 0x80000003
    {"stdole2@x64", Damage::Duplicate, 19}, // 0x80000003
    {"stdole2@x64", Damage::Delete, 1},     // 0x80000003
    {"stdole2@x64", Damage::Delete, 2},     // hang
    {"stdole2@x64", Damage::Delete, 3},     // hang
    {"stdole2@x64", Damage::Delete, 13},    // 0x80000003
    {"stdole2@x64", Damage::Delete, 17},    // 0x80000003
    {"stdole2@x64", Damage::Truncate, 1},   // hang
    {"stdole2@x64", Damage::Truncate, 2},   // hang
    {"activeds@x64", Damage::BitFlips, 3},  // 0x80000003
    {"activeds@x64", Damage::BitFlips, 9},  // 0x80000003
    {"activeds@x64", Damage::Word, 16},     // 0x80000003
    {"activeds@x64", Damage::Duplicate, 4}, // 0x80000003
    {"activeds@x64", Damage::Delete, 1},    // 0x80000003
    {"activeds@x64", Damage::Delete, 4},    // hang
    {"activeds@x64", Damage::Delete, 5},    // hang
    {"activeds@x64", Damage::Delete, 13},   // 0x80000003
    {"activeds@x64", Damage::Delete, 17},   // 0x80000003
    {"activeds@x64", Damage::Truncate, 1},  // hang
    {"activeds@x64", Damage::Truncate, 2},  // hang
    {"scrrun@x64", Damage::BitFlips, 10},   // 0x80000003
    {"scrrun@x64", Damage::BitFlips, 16},   // 0x80000003
    {"scrrun@x64", Damage::Word, 17},       // 0xC0000005
    {"scrrun@x64", Damage::Word, 19},       // 0x80000003
    {"scrrun@x64", Damage::Duplicate, 16},  // 0x80000003
    {"scrrun@x64", Damage::Duplicate, 17},  // 0x80000003
    {"scrrun@x64", Damage::Delete, 1},      // 0x80000003
    {"scrrun@x64", Damage::Delete, 3},      // hang
    {"scrrun@x64", Damage::Delete, 4},      // hang
    {"scrrun@x64", Damage::Delete, 13},     // 0x80000003
    {"scrrun@x64", Damage::Delete, 17},     // 0x80000003
    {"scrrun@x64", Damage::Truncate, 1},    // hang
    {"scrrun@x64", Damage::Truncate, 2},    // hang
    {"widl@x64", Damage::BitFlips, 19},     // 0x80000003
    {"stdole2@x86", Damage::BitFlips, 1},   // 0xC0000005
    {"stdole2@x86", Damage::Word, 4},       // 0xC0000005
    {"stdole2@x86", Damage::Word, 18},      // 0x80000003
    {"stdole2@x86", Damage::Duplicate, 6},  // 0xC0000005
    {"stdole2@x86", Damage::Duplicate, 12}, // 0x80000003
    {"stdole2@x86", Damage::Duplicate, 17}, // 0x80000003
    {"stdole2@x86", Damage::Duplicate, 19}, // 0x80000003
    {"stdole2@x86", Damage::Delete, 1},     // 0x80000003
    {"stdole2@x86", Damage::Delete, 2},     // hang
    {"stdole2@x86", Damage::Delete, 3},     // hang
    {"stdole2@x86", Damage::Delete, 13},    // 0x80000003
    {"stdole2@x86", Damage::Delete, 17},    // 0x80000003
    {"stdole2@x86", Damage::Truncate, 1},   // hang
    {"stdole2@x86", Damage::Truncate, 2},   // hang
    {"activeds@x86", Damage::BitFlips, 3},  // 0x80000003
    {"activeds@x86", Damage::BitFlips, 9},  // 0x80000003
    {"activeds@x86", Damage::BitFlips, 13}, // 0xC0000005
    {"activeds@x86", Damage::Word, 16},     // 0x80000003
    {"activeds@x86", Damage::Duplicate, 4}, // 0x80000003
    {"activeds@x86", Damage::Delete, 1},    // 0x80000003
    {"activeds@x86", Damage::Delete, 4},    // hang
    {"activeds@x86", Damage::Delete, 5},    // hang
    {"activeds@x86", Damage::Delete, 13},   // 0x80000003
    {"activeds@x86", Damage::Delete, 17},   // 0x80000003
    {"activeds@x86", Damage::Truncate, 1},  // hang
    {"activeds@x86", Damage::Truncate, 2},  // hang
    {"scrrun@x86", Damage::BitFlips, 10},   // 0x80000003
    {"scrrun@x86", Damage::BitFlips, 16},   // 0x80000003
    {"scrrun@x86", Damage::Word, 17},       // 0xC0000005
    {"scrrun@x86", Damage::Word, 19},       // 0x80000003
    {"scrrun@x86", Damage::Duplicate, 16},  // 0x80000003
    {"scrrun@x86", Damage::Duplicate, 17},  // 0x80000003
    {"scrrun@x86", Damage::Delete, 1},      // 0x80000003
    {"scrrun@x86", Damage::Delete, 3},      // hang
    {"scrrun@x86", Damage::Delete, 4},      // hang
    {"scrrun@x86", Damage::Delete, 13},     // 0x80000003
    {"scrrun@x86", Damage::Delete, 17},     // 0x80000003
    {"scrrun@x86", Damage::Truncate, 1},    // hang
    {"scrrun@x86", Damage::Truncate, 2},    // hang
    {"widl@x86", Damage::BitFlips, 19},     // 0x80000003
    {"sltg", Damage::Sltg, 1},              // 0xC0000005 on both
    {"sltg", Damage::Sltg, 2},              // 0xC0000005 on both
    {"sltg", Damage::Sltg, 3},              // 0xC0000005 on both
    {"sltg", Damage::Sltg, 4},              // 0xC0000005 on both
    {"sltg", Damage::Sltg, 5},              // 0xC0000005 on both
    {"sltg", Damage::Sltg, 6},              // 0xC0000005 on both
    {"sltg", Damage::Sltg, 7},              // 0xC0000005 on both
    {"sltg", Damage::Sltg, 8},              // 0xC0000005 on both
};
const int kCrashedBeforeCount = static_cast<int>(std::size(kCrashedBefore));

const char* DamageName(Damage kind) {
    switch (kind) {
    case Damage::BitFlips:
        return "bit flips";
    case Damage::Word:
        return "word";
    case Damage::Duplicate:
        return "duplicate";
    case Damage::Delete:
        return "delete";
    case Damage::Truncate:
        return "truncate";
    case Damage::Sltg:
        return "SLTG";
    }
    return "?";
}

std::string RecipeName(const Recipe& recipe) {
    return std::string(recipe.base) + " " + DamageName(recipe.kind) + " #" +
           std::to_string(recipe.seed);
}

std::string DamagedLibrary(const Recipe& recipe) {
    if (recipe.kind == Damage::Sltg) return Damaged(std::string(), recipe.kind, recipe.seed);
    return Damaged(PrivateBase(recipe.base), recipe.kind, recipe.seed);
}

const wchar_t* ExtensionOf(const Recipe& recipe) {
    return recipe.kind != Damage::Sltg && std::string(recipe.base).rfind("scrrun", 0) == 0
               ? L".dll"
               : L".tlb";
}

bool VandrelIs64Bit() {
    static const bool is64 = [] {
        const std::string image = ReadBytes(VandrelExe());
        const std::uint32_t header = ReadWord(image, 0x3C);
        return (ReadWord(image, header + 4) & 0xFFFF) == IMAGE_FILE_MACHINE_AMD64;
    }();
    return is64;
}

} // namespace vandrel::test
