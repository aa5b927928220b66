// What Vandrel and its worker say to each other over the one pipe between
// them. Vandrel asks; the worker loads, walks and makes the platform's calls,
// and answers each request with one report. Requests come from Vandrel and
// are trusted; reports come from a process that has read a file anyone may
// have written, and Vandrel checks every field of them (WorkerReport.h).
#pragma once

#include "registrar/RegistrarResult.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vandrel::worker {

// The argument text that starts the worker, followed by the pipe's handle
// value in hexadecimal. It opens with a character of the private-use area,
// which no keyboard layout types, so that no command line a person writes
// reaches the worker by accident.
inline constexpr wchar_t kArgument[] = L"\xE000vandrel-worker ";

// Longest path or help folder a request carries, in characters.
inline constexpr uint32_t kMaxTextChars = 32767;

enum class Request : uint32_t {
    Load = 1,           // `text` with `purpose`; answered by a LoadReport
    Register,           // the library loaded `library`-th, as `text` with help folder `help`
    UnregisterLoaded,   // the identity the `library`-th loaded library hands over
    UnregisterIdentity, // `id` as given
    Entries,            // what registering the `library`-th loaded library writes: an EntriesHeader
};

struct RequestHeader {
    Request kind;
    PlatformCall purpose;
    Scope scope;
    uint32_t library;
    GUID guid;
    uint32_t major, minor, lcid, syskind;
    uint32_t textChars; // followed by that many characters,
    uint32_t helpChars; // then these
};

inline constexpr uint32_t kReportMark = 0x52444E56; // "VNDR"

// A load: its status, and on success the library's identity, its name and
// how many interface identifiers follow the name.
struct LoadHeader {
    uint32_t mark;
    int32_t status;
    GUID guid;
    uint32_t major, minor, lcid, syskind;
    uint32_t nameChars;
    uint32_t interfaces;
};

// Where a platform call stopped: before the call (the scratch block, the
// library's attribute record) or in it.
enum class Stage : uint32_t { Block = 1, Attributes, Call };

struct CallReport {
    uint32_t mark;
    int32_t status;
    Stage stage;
};

// What registration writes beyond what a load reports: the library's flags,
// and for each interface of the load report, in its order, the type's name
// and which proxy its keys name. Each interface follows as an EntryRecord
// and its name's characters.
struct EntriesHeader {
    uint32_t mark;
    int32_t status;
    uint32_t libFlags;
    uint32_t libNamed; // 1: the version key's default value is the library's name
    uint32_t interfaces;
};
inline constexpr uint32_t kNoName = 0xFFFFFFFF; // the type has no name: no default value
struct EntryRecord {
    IID iid;
    uint32_t dispatchProxy; // 1: a dispinterface's proxy; 0: an interface's (dual ones too)
    uint32_t nameChars;     // or kNoName
};

// One interface of an entries report, checked.
struct InterfaceEntry {
    IID iid;
    bool dispatchProxy = false;
    bool named = false;
    std::wstring name;
};
struct EntriesReport {
    WORD libFlags = 0;
    // A library with neither a help string nor a name gets no default value.
    bool libNamed = false;
    std::vector<InterfaceEntry> interfaces;
};

// A checked load report: the identity, name and interfaces as the worker
// read them from the file.
struct LibraryReport {
    LibraryId id;
    std::wstring name;
    std::vector<IID> interfaces;
};

} // namespace vandrel::worker
