#include "registrar/worker/WorkerSession.h"

#include "registrar/worker/TypeLibWalk.h"
#include "registrar/worker/UserScope.h"

#include <cstddef>
#include <cstring>
#include <utility>

namespace vandrel::worker {
namespace {

// The attribute fields an unregistration passes on: guid, lcid, syskind and
// the three version and flag words, 30 bytes without gaps on both targets.
constexpr SIZE_T kAttrBytes = 30;
static_assert(offsetof(TLIBATTR, lcid) == 16);
static_assert(offsetof(TLIBATTR, syskind) == 20);
static_assert(offsetof(TLIBATTR, wMajorVerNum) == 24);
static_assert(offsetof(TLIBATTR, wMinorVerNum) == 26);
static_assert(offsetof(TLIBATTR, wLibFlags) == 28);
static_assert(offsetof(TLIBATTR, wLibFlags) + sizeof(WORD) == kAttrBytes);

// The scratch block of an unregistration: zeroed memory of the attribute
// fields' size, given back through the table that gave it.
class ScratchBlock {
public:
    explicit ScratchBlock(const RegistrarPlatform& from)
        : platform_(from), block_(from.LocalAlloc(LMEM_ZEROINIT, kAttrBytes)) {}
    ScratchBlock(const ScratchBlock&) = delete;
    ScratchBlock& operator=(const ScratchBlock&) = delete;
    ~ScratchBlock() {
        if (block_) platform_.LocalFree(block_);
    }
    void* get() const { return block_; }

private:
    const RegistrarPlatform& platform_;
    HLOCAL block_;
};

template <typename T> void Append(std::string& bytes, const T& value) {
    bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
}

std::string Bytes(const CallReport& report) {
    std::string bytes;
    Append(bytes, report);
    return bytes;
}

} // namespace

std::string WorkerSession::Serve(const RequestHeader& request, std::wstring text,
                                 std::wstring help) {
    switch (request.kind) {
    case Request::Load:
        return Load(text, request.purpose);
    case Request::Register:
        return Bytes(Register(request.library, text, help, request.scope));
    case Request::UnregisterLoaded:
        return Bytes(UnregisterLoaded(request.library, request.scope));
    case Request::Entries:
        return Entries(request.library);
    case Request::UnregisterIdentity: {
        TLIBATTR identity{};
        identity.guid = request.guid;
        identity.wMajorVerNum = static_cast<WORD>(request.major);
        identity.wMinorVerNum = static_cast<WORD>(request.minor);
        identity.lcid = request.lcid;
        identity.syskind = static_cast<SYSKIND>(request.syskind);
        return Bytes(Unregister(identity, request.scope));
    }
    }
    return Bytes({kReportMark, E_INVALIDARG, Stage::Call});
}

std::string WorkerSession::Load(const std::wstring& path, PlatformCall purpose) {
    LoadHeader header{};
    header.mark = kReportMark;
    LibraryReport report;
    ComPtr<ITypeLib> library;
    HRESULT status = platform_.LoadTypeLib(path.c_str(), library.put());
    if (status == S_OK && !library) status = E_POINTER;
    if (status == S_OK) status = WalkLibrary(platform_, library.get(), purpose, report);
    header.status = status;
    std::string bytes;
    if (status != S_OK) {
        Append(bytes, header);
        return bytes;
    }
    libraries_.push_back(std::move(library));
    header.guid = report.id.guid;
    header.major = report.id.major;
    header.minor = report.id.minor;
    header.lcid = report.id.lcid;
    header.syskind = report.id.syskind;
    header.nameChars = static_cast<uint32_t>(report.name.size());
    header.interfaces = static_cast<uint32_t>(report.interfaces.size());
    Append(bytes, header);
    bytes.append(reinterpret_cast<const char*>(report.name.data()),
                 report.name.size() * sizeof(wchar_t));
    for (const IID& iid : report.interfaces)
        Append(bytes, iid);
    return bytes;
}

// Read from the loaded library, never by the platform's own call against a
// redirected key: under Wine its write to the other view escapes the
// redirection into the machine's keys.
std::string WorkerSession::Entries(uint32_t library) {
    EntriesHeader header{};
    header.mark = kReportMark;
    LibraryReport walked;
    EntriesReport entries;
    header.status = library < libraries_.size()
                        ? WalkLibrary(platform_, libraries_[library].get(), PlatformCall::Register,
                                      walked, &entries)
                        : E_INVALIDARG;
    std::string bytes;
    if (header.status != S_OK) {
        Append(bytes, header);
        return bytes;
    }
    header.libFlags = entries.libFlags;
    header.libNamed = entries.libNamed ? 1 : 0;
    header.interfaces = static_cast<uint32_t>(entries.interfaces.size());
    Append(bytes, header);
    for (const InterfaceEntry& entry : entries.interfaces) {
        const EntryRecord record = {entry.iid, entry.dispatchProxy ? 1u : 0u,
                                    entry.named ? static_cast<uint32_t>(entry.name.size())
                                                : kNoName};
        Append(bytes, record);
        bytes.append(reinterpret_cast<const char*>(entry.name.data()),
                     entry.name.size() * sizeof(wchar_t));
    }
    return bytes;
}

CallReport WorkerSession::Register(uint32_t library, std::wstring& path, std::wstring& help,
                                   Scope scope) {
    if (library >= libraries_.size()) return {kReportMark, E_INVALIDARG, Stage::Call};
    // The platform wants writable strings.
    const HRESULT status = InScope(platform_, scope, [&] {
        return platform_.RegisterTypeLib(libraries_[library].get(), path.data(), help.data());
    });
    return {kReportMark, status, Stage::Call};
}

// The identity goes to the platform as the library's own attribute record
// hands it over, through a zeroed block of the fields' size: a block that
// cannot be had, or a record the library will not give, ends the request
// before the platform is asked.
CallReport WorkerSession::UnregisterLoaded(uint32_t library, Scope scope) {
    if (library >= libraries_.size()) return {kReportMark, E_INVALIDARG, Stage::Call};
    const ScratchBlock block(platform_);
    const HRESULT lastError = HRESULT_FROM_WIN32(platform_.GetLastError());
    // No block is a failure even when the last error was left at 0.
    if (!block.get())
        return {kReportMark, lastError == S_OK ? E_OUTOFMEMORY : lastError, Stage::Block};
    ITypeLib* const loaded = libraries_[library].get();
    TLIBATTR* fetched = nullptr;
    HRESULT status = loaded->GetLibAttr(&fetched);
    if (!fetched) return {kReportMark, status == S_OK ? E_POINTER : status, Stage::Attributes};
    TLIBATTR own{};
    if (status == S_OK) {
        std::memcpy(block.get(), fetched, kAttrBytes);
        std::memcpy(&own, block.get(), kAttrBytes);
    }
    loaded->ReleaseTLibAttr(fetched);
    if (status != S_OK) return {kReportMark, status, Stage::Attributes};
    return Unregister(own, scope);
}

CallReport WorkerSession::Unregister(const TLIBATTR& identity, Scope scope) {
    const HRESULT status = InScope(platform_, scope, [&] {
        return platform_.UnRegisterTypeLib(identity.guid, identity.wMajorVerNum,
                                           identity.wMinorVerNum, identity.lcid, identity.syskind);
    });
    return {kReportMark, status, Stage::Call};
}

} // namespace vandrel::worker
