#include "registrar/TypeLibHeader.h"

#include "common/Owned.h"
#include "registrar/PlatformGuard.h"

#include <cstdint>
#include <cstring>
#include <cwchar>

namespace vandrel {
namespace {

// The MSFT layout, as far as the loader seeks before it reads anything else.
constexpr size_t kHeaderBytes = 0x54;
constexpr size_t kVarFlagsAt = 0x14;
constexpr size_t kTypeInfoCountAt = 0x20;
constexpr uint32_t kHelpDllFlag = 0x100; // one more 32-bit word follows the header
constexpr size_t kSegmentCount = 15;
constexpr size_t kSegmentBytes = 16; // offset, length and two reserved words
constexpr size_t kTypeInfoSegment = 0;
constexpr size_t kTypeInfoBytes = 0x64;
constexpr size_t kMemberOffsetAt = 0x04;
constexpr size_t kElementCountAt = 0x18;  // functions in the low word, variables high
constexpr int64_t kMemberIndexBytes = 12; // id, name and offset of each member
// Lists the loader follows from link to link until one says -1: a list that
// runs in a circle keeps it allocating for ever.
struct ListKind {
    size_t segment, entryBytes, nextAt;
};
constexpr ListKind kCustomData = {12, 12, 8};  // from the header and each type info
constexpr ListKind kImplemented = {3, 16, 12}; // a coclass's implemented interfaces
constexpr size_t kLibraryCustomDataAt = 0x40;
constexpr size_t kTypeKindAt = 0x00;
constexpr size_t kCustomDataAt = 0x48;
constexpr size_t kImplementedAt = 0x54;
constexpr int64_t kCoclass = 5;

int64_t ReadInt(const BYTE* image, size_t at) {
    int32_t value;
    std::memcpy(&value, image + at, sizeof value);
    return value;
}

bool Inside(int64_t offset, int64_t length, size_t size) {
    return offset >= 0 && length >= 0 && offset + length <= static_cast<int64_t>(size);
}

// False when the list starting at `first` comes back on itself: it has more
// links than its segment has entries. A link outside the segment ends the
// walk; the loader reports (or the guard takes) what it reads there.
bool ListEnds(const BYTE* image, size_t directory, const ListKind& kind, int64_t first) {
    const size_t entry = directory + kind.segment * kSegmentBytes;
    const int64_t segment = ReadInt(image, entry), length = ReadInt(image, entry + 4);
    if (segment < 0) return true;
    const int64_t links = length / static_cast<int64_t>(kind.entryBytes);
    int64_t at = first;
    for (int64_t step = 0; step <= links; ++step) {
        if (at < 0 || at + static_cast<int64_t>(kind.entryBytes) > length) return true;
        at = ReadInt(image, static_cast<size_t>(segment + at) + kind.nextAt);
    }
    return false;
}

struct Mapping {
    using View = Owned<const void*, NullTraits<const void*, ::UnmapViewOfFile>>;
    OwnedHandle section;
    View view;
    size_t size = 0;
};

// The whole file mapped for reading, or nothing (empty, locked, unreadable).
bool MapFile(const std::wstring& path, Mapping& mapping) {
    OwnedFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 ||
        static_cast<uint64_t>(size.QuadPart) > SIZE_MAX)
        return false;
    mapping.section.reset(::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping.section) return false;
    mapping.view.reset(::MapViewOfFile(mapping.section.get(), FILE_MAP_READ, 0, 0, 0));
    if (!mapping.view) return false;
    mapping.size = static_cast<size_t>(size.QuadPart);
    return true;
}

struct ImageCheck {
    const BYTE* image;
    size_t size;
    bool whole;
};

void CheckBody(void* context) {
    auto& check = *static_cast<ImageCheck*>(context);
    check.whole = TypeLibImageIsWhole(check.image, check.size);
}

// A module's resource table can claim more than the file holds (a cut DLL
// or .tlb module), and the mapping ends with the file: reading there faults.
// Such an image, or one no guard could be set up for, is not whole.
bool ImageIsWholeGuarded(const BYTE* image, size_t size) {
    ImageCheck check{image, size, false};
    DWORD fault = 0;
    return RunGuarded(CheckBody, &check, &fault) && check.whole;
}

bool IsModule(const Mapping& mapping) {
    return mapping.size >= 2 && std::memcmp(mapping.view.get(), "MZ", 2) == 0;
}

bool ResourceIsWhole(const std::wstring& module, WORD index) {
    OwnedModule data(::LoadLibraryExW(module.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!data) return true;
    HRSRC found = ::FindResourceW(data.get(), MAKEINTRESOURCEW(index), L"TYPELIB");
    if (!found) return true;
    const DWORD size = ::SizeofResource(data.get(), found);
    HGLOBAL loaded = ::LoadResource(data.get(), found);
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    if (!bytes) return true;
    return ImageIsWholeGuarded(static_cast<const BYTE*>(bytes), size);
}

} // namespace

bool TypeLibImageIsWhole(const BYTE* image, size_t size) {
    if (size < 4 || std::memcmp(image, "MSFT", 4) != 0) return true;
    if (size < kHeaderBytes) return false;

    const int64_t typeInfos = ReadInt(image, kTypeInfoCountAt);
    if (typeInfos < 0) return false;
    int64_t at = kHeaderBytes;
    if (static_cast<uint32_t>(ReadInt(image, kVarFlagsAt)) & kHelpDllFlag) at += 4;
    const int64_t typeInfoOffsets = at;
    at += 4 * typeInfos;
    const int64_t directory = at;
    if (!Inside(directory, kSegmentCount * kSegmentBytes, size)) return false;

    for (size_t i = 0; i < kSegmentCount; ++i) {
        const size_t entry = static_cast<size_t>(directory) + i * kSegmentBytes;
        const int64_t offset = ReadInt(image, entry), length = ReadInt(image, entry + 4);
        if (offset == -1) continue; // the segment is absent
        if (!Inside(offset, length, size)) return false;
    }

    const auto dir = static_cast<size_t>(directory);
    if (!ListEnds(image, dir, kCustomData, ReadInt(image, kLibraryCustomDataAt))) return false;

    const size_t typeInfoEntry = dir + kTypeInfoSegment * kSegmentBytes;
    const int64_t segment = ReadInt(image, typeInfoEntry);
    const int64_t segmentLength = ReadInt(image, typeInfoEntry + 4);
    for (int64_t i = 0; i < typeInfos; ++i) {
        const int64_t offset = ReadInt(image, static_cast<size_t>(typeInfoOffsets + 4 * i));
        if (segment < 0 || offset < 0 || offset + int64_t{kTypeInfoBytes} > segmentLength)
            return false;
        const size_t base = static_cast<size_t>(segment + offset);
        if (!ListEnds(image, dir, kCustomData, ReadInt(image, base + kCustomDataAt))) return false;
        if ((ReadInt(image, base + kTypeKindAt) & 0xF) == kCoclass &&
            !ListEnds(image, dir, kImplemented, ReadInt(image, base + kImplementedAt)))
            return false;
        const int64_t elements = ReadInt(image, base + kElementCountAt);
        const int64_t members = (elements & 0xFFFF) + ((elements >> 16) & 0xFFFF);
        if (members == 0) continue;
        // The member block: its own length, the records, then the index.
        const int64_t block = ReadInt(image, base + kMemberOffsetAt);
        if (!Inside(block, 4, size)) return false;
        const int64_t records = ReadInt(image, static_cast<size_t>(block));
        if (!Inside(block, 4 + records + kMemberIndexBytes * members, size) || records < 0)
            return false;
    }
    return true;
}

bool TypeLibFileIsWhole(const std::wstring& file, WORD index) {
    Mapping mapping;
    if (!MapFile(file, mapping)) return true;
    if (IsModule(mapping)) {
        mapping = Mapping();
        return ResourceIsWhole(file, index);
    }
    return ImageIsWholeGuarded(static_cast<const BYTE*>(mapping.view.get()), mapping.size);
}

} // namespace vandrel
