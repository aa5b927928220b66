#include "registrar/TypeLibHeader.h"

#include "common/Owned.h"
#include "registrar/RegistrarPlatform.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>

namespace vandrel {
namespace {

// The MSFT layout, as Wine 8's loader was seen to read it.
constexpr int64_t kHeaderBytes = 0x54;
constexpr int64_t kVarFlagsAt = 0x14;
constexpr int64_t kTypeInfoCountAt = 0x20;
constexpr int64_t kLibraryCustomDataAt = 0x40;
constexpr uint32_t kHelpDllFlag = 0x100; // one more 32-bit word follows the header
constexpr int64_t kSegmentCount = 15;
constexpr int64_t kSegmentBytes = 16; // offset, length and two reserved words
enum SegmentIndex { kTypeInfos = 0, kImplementedTypes = 3, kCustomValues = 11, kCustomData = 12 };

struct TypeInfoRecord {
    static constexpr int64_t kBytes = 0x64;
    static constexpr int64_t kKindAt = 0x00; // the kind in the low 4 bits
    static constexpr int64_t kMembersAt = 0x04;
    static constexpr int64_t kFunctionCountAt = 0x18; // 16 bits, unsigned
    static constexpr int64_t kVariableCountAt = 0x1A;
    static constexpr int64_t kCustomDataAt = 0x48;
    static constexpr int64_t kImplementedCountAt = 0x4C; // 16 bits, unsigned
    static constexpr int64_t kFirstImplementedAt = 0x54;
    static constexpr int64_t kCoclass = 5;
};
// The member block: its records' length, the records (functions first),
// then an id, a name and an offset for each member.
constexpr int64_t kMemberIndexBytes = 12;

// A function record: its size in the low 16 bits of its first word, fixed
// fields, then as many optional 32-bit fields as the size leaves room for
// before the default values (one per parameter, with kHasDefaults) and the
// parameter records at its end.
struct FunctionRecord {
    static constexpr int64_t kFixedBytes = 0x18;
    static constexpr int64_t kFlagsAt = 0x10;
    static constexpr uint32_t kHasCustomData = 0x80;
    static constexpr uint32_t kHasDefaults = 0x1000;
    static constexpr int64_t kParamCountAt = 0x14; // 16 bits, signed
    static constexpr int64_t kCustomDataAt = 0x30;
    static constexpr int64_t kParamCustomDataAt = 0x34; // one per parameter
    static constexpr int64_t kParamBytes = 12;
    static constexpr int64_t kParamFlagsAt = 8;
};
// A variable record: its size in the low 8 bits of its first word.
struct VariableRecord {
    static constexpr int64_t kFixedBytes = 0x14;
    static constexpr int64_t kKindAt = 0x0C; // 16 bits
    static constexpr int64_t kValueAt = 0x10;
    static constexpr int64_t kCustomDataAt = 0x20;
};
constexpr int64_t kConstant = VAR_CONST;
// A custom-data entry: the GUID's offset, the value's, the next entry's.
constexpr int64_t kCustomEntryBytes = 12;
constexpr int64_t kCustomValueAt = 4, kCustomNextAt = 8;
// An implemented-type record: kind, flags, custom data, next.
constexpr int64_t kImplementedBytes = 16;
constexpr int64_t kImplementedCustomDataAt = 8, kImplementedNextAt = 12;
// A value: its type in 16 bits; a string's length and bytes follow.
constexpr int64_t kValueLengthAt = 2, kStringAt = 6;

// Shared records and lists make the loader read the same bytes again: a
// record for each type info that names it, a list for each record that
// starts it. It may read eight times the file, or 16 MiB of a small one,
// which costs it a fraction of a second; a list that runs in a circle
// exceeds any bound. Wine's own libraries need less than once.
constexpr int64_t kReadsPerByte = 8;
constexpr int64_t kLeastReads = int64_t{16} << 20;

// The loader's reads of one image, made here as it would make them: false
// as soon as one of them lies outside the image, comes from beyond a record
// (the loader would take it from memory of its own), or exceeds the bound.
class LoaderReads {
public:
    LoaderReads(const BYTE* image, size_t size)
        : image_(image), size_(static_cast<int64_t>(size)),
          left_(std::max(kReadsPerByte * size_, kLeastReads)) {}

    bool Library();

private:
    bool Has(int64_t at, int64_t bytes) const {
        return at >= 0 && bytes >= 0 && at <= size_ - bytes;
    }
    int64_t Int(int64_t at) const {
        int32_t value;
        std::memcpy(&value, image_ + at, sizeof value);
        return value;
    }
    int64_t Word(int64_t at) const {
        uint16_t value;
        std::memcpy(&value, image_ + at, sizeof value);
        return value;
    }
    int64_t Short(int64_t at) const { return static_cast<int16_t>(Word(at)); }
    bool Read(int64_t at, int64_t bytes) {
        left_ -= bytes;
        return left_ >= 0 && Has(at, bytes);
    }
    int64_t Segment(int index) const { return Int(directory_ + index * kSegmentBytes); }
    int64_t SegmentLength(int index) const { return Int(directory_ + index * kSegmentBytes + 4); }

    bool CustomData(int64_t first);
    bool Value(int64_t offset);
    bool TypeInfo(int64_t offset);
    bool Implemented(int64_t typeInfo);
    bool Functions(int64_t& at, int64_t count);
    bool Variables(int64_t at, int64_t count);

    const BYTE* image_;
    int64_t size_;
    int64_t left_;
    int64_t directory_ = 0;
};

bool LoaderReads::Library() {
    if (size_ < kHeaderBytes) return false;
    const int64_t typeInfos = Int(kTypeInfoCountAt);
    if (typeInfos < 0) return false;
    int64_t offsets = kHeaderBytes;
    if (static_cast<uint32_t>(Int(kVarFlagsAt)) & kHelpDllFlag) offsets += 4;
    directory_ = offsets + 4 * typeInfos;
    if (!Has(directory_, kSegmentCount * kSegmentBytes)) return false;
    for (int i = 0; i < kSegmentCount; ++i) {
        if (Segment(i) == -1) continue; // the segment is absent
        if (!Has(Segment(i), SegmentLength(i))) return false;
    }
    if (!CustomData(Int(kLibraryCustomDataAt))) return false;
    for (int64_t i = 0; i < typeInfos; ++i) {
        // Wine's loader reads type info i at its place in the segment; the
        // offsets after the header name the records a loader may seek to
        // instead. In a sound library the two agree.
        const int64_t placed = TypeInfoRecord::kBytes * i, named = Int(offsets + 4 * i);
        if (!TypeInfo(placed) || (named != placed && !TypeInfo(named))) return false;
    }
    return true;
}

// The loader follows the list from link to link until one is negative,
// allocating at each; it skips them all when the segment is absent.
bool LoaderReads::CustomData(int64_t first) {
    const int64_t segment = Segment(kCustomData);
    if (segment < 0) return true;
    for (int64_t at = first; at >= 0; at = Int(segment + at + kCustomNextAt)) {
        // A link may lead out of the segment: the loader reads wherever it
        // points, so its circles are followed there too.
        if (!Read(segment + at, kCustomEntryBytes) || !Value(Int(segment + at + kCustomValueAt)))
            return false;
    }
    return true;
}

// A negative offset holds a small value in itself. A string's bytes are
// copied by the loader wherever it is named from.
bool LoaderReads::Value(int64_t offset) {
    if (offset < 0) return true;
    const int64_t at = Segment(kCustomValues) + offset;
    if (!Read(at, kValueLengthAt)) return false;
    if (Word(at) != VT_BSTR) return true;
    if (!Read(at + kValueLengthAt, 4)) return false;
    const int64_t length = Int(at + kValueLengthAt);
    return length <= 0 || Read(at + kStringAt, length);
}

bool LoaderReads::TypeInfo(int64_t offset) {
    using T = TypeInfoRecord;
    if (Segment(kTypeInfos) < 0 || offset < 0 || offset + T::kBytes > SegmentLength(kTypeInfos))
        return false;
    const int64_t base = Segment(kTypeInfos) + offset;
    if (!Read(base, T::kBytes) || !CustomData(Int(base + T::kCustomDataAt))) return false;
    if ((Int(base + T::kKindAt) & 0xF) == T::kCoclass && !Implemented(base)) return false;
    const int64_t functions = Word(base + T::kFunctionCountAt);
    const int64_t variables = Word(base + T::kVariableCountAt);
    const int64_t members = functions + variables;
    if (members == 0) return true;
    const int64_t block = Int(base + T::kMembersAt);
    if (!Has(block, 4)) return false;
    const int64_t records = Int(block);
    if (records < 0 || !Has(block, 4 + records + kMemberIndexBytes * members)) return false;
    int64_t at = block + 4;
    if (!Functions(at, functions)) return false;
    if (variables == 0) return true;
    // The variables start where the index says the first one does.
    const int64_t first = Int(block + 4 + records + 8 * members + 4 * functions);
    return Variables(block + 4 + first, variables);
}

// As many as the coclass says, wherever their links lead, until one is
// negative: a circle ends with the count.
bool LoaderReads::Implemented(int64_t typeInfo) {
    int64_t at = Int(typeInfo + TypeInfoRecord::kFirstImplementedAt);
    for (int64_t n = Word(typeInfo + TypeInfoRecord::kImplementedCountAt); n > 0 && at >= 0; --n) {
        const int64_t record = Segment(kImplementedTypes) + at;
        if (!Read(record, kImplementedBytes) || !CustomData(Int(record + kImplementedCustomDataAt)))
            return false;
        at = Int(record + kImplementedNextAt);
    }
    return true;
}

bool LoaderReads::Functions(int64_t& at, int64_t count) {
    using F = FunctionRecord;
    for (int64_t i = 0; i < count; ++i) {
        if (!Has(at, 4)) return false;
        const int64_t length = Word(at);
        if (length < F::kFixedBytes || !Read(at, length)) return false;
        const auto flags = static_cast<uint32_t>(Int(at + F::kFlagsAt));
        const int64_t params = std::max<int64_t>(0, Short(at + F::kParamCountAt));
        const int64_t defaults = flags & F::kHasDefaults ? 4 * params : 0;
        const int64_t optional = length - F::kParamBytes * params - defaults;
        // A field the loader takes from past the record's end is whatever
        // its buffer last held.
        auto custom = [&](int64_t field) {
            if (!(flags & F::kHasCustomData) || optional <= field) return true;
            return field + 4 <= length && CustomData(Int(at + field));
        };
        if (!custom(F::kCustomDataAt)) return false;
        for (int64_t j = 0; j < params; ++j) {
            const int64_t param = at + length - F::kParamBytes * (params - j);
            if (!Read(param, F::kParamBytes) || !custom(F::kParamCustomDataAt + 4 * j))
                return false;
            if (defaults && (Int(param + F::kParamFlagsAt) & PARAMFLAG_FHASDEFAULT)) {
                const int64_t field = length - F::kParamBytes * params - defaults + 4 * j;
                if (field < 0 || !Value(Int(at + field))) return false;
            }
        }
        at += length;
    }
    return true;
}

bool LoaderReads::Variables(int64_t at, int64_t count) {
    using V = VariableRecord;
    for (int64_t i = 0; i < count; ++i) {
        if (!Has(at, 4)) return false;
        const int64_t length = image_[at];
        if (length < V::kFixedBytes || !Read(at, length)) return false;
        if (Short(at + V::kKindAt) == kConstant && !Value(Int(at + V::kValueAt))) return false;
        if (length > V::kCustomDataAt &&
            (length < V::kCustomDataAt + 4 || !CustomData(Int(at + V::kCustomDataAt))))
            return false;
        at += length;
    }
    return true;
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
bool ImageIsWholeGuarded(const RegistrarPlatform& platform, const BYTE* image, size_t size) {
    ImageCheck check{image, size, false};
    DWORD fault = 0;
    return platform.RunGuarded(CheckBody, &check, &fault) && check.whole;
}

bool IsModule(const Mapping& mapping) {
    return mapping.size >= 2 && std::memcmp(mapping.view.get(), "MZ", 2) == 0;
}

bool ResourceIsWhole(const RegistrarPlatform& platform, const std::wstring& module, WORD index) {
    OwnedModule data(::LoadLibraryExW(module.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!data) return true;
    HRSRC found = ::FindResourceW(data.get(), MAKEINTRESOURCEW(index), L"TYPELIB");
    if (!found) return true;
    const DWORD size = ::SizeofResource(data.get(), found);
    HGLOBAL loaded = ::LoadResource(data.get(), found);
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    if (!bytes) return true;
    return ImageIsWholeGuarded(platform, static_cast<const BYTE*>(bytes), size);
}

} // namespace

bool TypeLibImageIsWhole(const BYTE* image, size_t size) {
    if (size < 4 || std::memcmp(image, "MSFT", 4) != 0) return true;
    return LoaderReads(image, size).Library();
}

bool TypeLibFileIsWhole(const RegistrarPlatform& platform, const std::wstring& file, WORD index) {
    Mapping mapping;
    if (!MapFile(file, mapping)) return true;
    if (IsModule(mapping)) {
        mapping = Mapping();
        return ResourceIsWhole(platform, file, index);
    }
    return ImageIsWholeGuarded(platform, static_cast<const BYTE*>(mapping.view.get()),
                               mapping.size);
}

} // namespace vandrel
