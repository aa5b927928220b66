#include "registrar/host/Worker.h"

#include <algorithm>
#include <utility>

namespace vandrel {
namespace {

using worker::CallReport;
using worker::kReportMark;
using worker::LoadHeader;
using worker::Request;
using worker::RequestHeader;
using worker::Stage;

constexpr unsigned long long kMegabyte = 1 << 20;

RequestHeader Header(Request kind) {
    RequestHeader request{};
    request.kind = kind;
    return request;
}

// A failed load or platform call of the worker's own: the loader refused
// the file, or the platform refused the call.
RegistrarResult Refused(const CallReport& report) {
    if (report.status == S_OK) return {kTrue, Failure::None};
    if (report.stage == Stage::Block) return {kFalse, Failure::Platform, report.status};
    if (report.stage == Stage::Attributes) return {kFalse, Failure::NotTypeLib, report.status};
    return {kFalse, Failure::Platform, report.status};
}

} // namespace

HRESULT CheckLoadReport(const LoadHeader& header, unsigned long long fileBytes) {
    if (header.mark != kReportMark) return kMalformedReport;
    if (header.status != S_OK) {
        // A refusal carries nothing else.
        const bool empty = header.nameChars == 0 && header.interfaces == 0 && header.syskind == 0 &&
                           header.lcid == 0 && header.major == 0 && header.minor == 0 &&
                           IsEqualGUID(header.guid, GUID_NULL);
        return empty ? S_OK : kMalformedReport;
    }
    // The platform kind is the file's own word, which the platform's call
    // judges; the versions are 16-bit fields.
    if (header.major > 0xFFFF || header.minor > 0xFFFF) return kMalformedReport;
    if (header.nameChars > std::min<unsigned long long>(fileBytes, worker::kMaxTextChars))
        return kMalformedReport;
    if (header.interfaces > fileBytes / sizeof(IID)) return kMalformedReport;
    return S_OK;
}

HRESULT CheckCallReport(const CallReport& report) {
    if (report.mark != kReportMark) return kMalformedReport;
    if (report.stage != Stage::Block && report.stage != Stage::Attributes &&
        report.stage != Stage::Call)
        return kMalformedReport;
    return S_OK;
}

HRESULT CheckEntriesHeader(const worker::EntriesHeader& header, size_t expected) {
    if (header.mark != kReportMark) return kMalformedReport;
    if (header.status != S_OK)
        return header.libFlags == 0 && header.libNamed == 0 && header.interfaces == 0
                   ? S_OK
                   : kMalformedReport;
    if (header.libFlags > 0xFFFF || header.libNamed > 1 || header.interfaces != expected)
        return kMalformedReport;
    return S_OK;
}

HRESULT CheckEntryRecord(const worker::EntryRecord& record, const IID& expected,
                         unsigned long long nameChars, unsigned long long fileBytes) {
    if (!IsEqualGUID(record.iid, expected) || record.dispatchProxy > 1) return kMalformedReport;
    if (record.nameChars == worker::kNoName) return S_OK;
    if (record.nameChars > worker::kMaxTextChars || nameChars + record.nameChars > fileBytes)
        return kMalformedReport;
    return S_OK;
}

WorkerClient::~WorkerClient() {
    if (link_) link_->End();
}

DWORD WorkerClient::Timeout(unsigned long long fileBytes) const {
    const unsigned long long scaled =
        (fileBytes + kMegabyte - 1) / kMegabyte * bounds_.perMegabyteMs;
    return static_cast<DWORD>(std::min<unsigned long long>(
        std::max<unsigned long long>(bounds_.baseMs, scaled), 0x7FFFFFFF));
}

RegistrarResult WorkerClient::Lost(HRESULT why) {
    // Ended before anything else happens: a record is put back only over a
    // worker that can no longer write.
    link_->End();
    link_.reset();
    return {kFalse, Failure::Damaged, why};
}

RegistrarResult WorkerClient::Exchange(const RequestHeader& request, const std::wstring& text,
                                       const std::wstring& help, unsigned long long fileBytes) {
    if (!link_) {
        const WorkerStarter& starter = *WorkerSeam();
        bounds_ = starter.bounds;
        HRESULT status = E_UNEXPECTED;
        link_ = starter.Start(starter, status);
        if (!link_) return {kFalse, Failure::Unexpected, status == S_OK ? E_UNEXPECTED : status};
    }
    RequestHeader sent = request;
    sent.textChars = static_cast<uint32_t>(text.size());
    sent.helpChars = static_cast<uint32_t>(help.size());
    std::string bytes(reinterpret_cast<const char*>(&sent), sizeof sent);
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    bytes.append(reinterpret_cast<const char*>(help.data()), help.size() * sizeof(wchar_t));
    if (const HRESULT status = link_->Send(bytes, Timeout(fileBytes)); status != S_OK)
        return Lost(status);
    return {kTrue, Failure::None};
}

RegistrarResult WorkerClient::Load(const std::wstring& path, unsigned long long fileBytes,
                                   PlatformCall purpose, worker::LibraryReport& report) {
    RequestHeader request = Header(Request::Load);
    request.purpose = purpose;
    if (RegistrarResult sent = Exchange(request, path, L"", fileBytes); sent.flag != kTrue)
        return sent;
    const DWORD timeout = Timeout(fileBytes);
    LoadHeader header;
    if (const HRESULT status = link_->Receive(&header, sizeof header, timeout); status != S_OK)
        return Lost(status);
    if (const HRESULT status = CheckLoadReport(header, fileBytes); status != S_OK)
        return Lost(status);
    if (header.status != S_OK) return {kFalse, Failure::NotTypeLib, header.status};
    report.id = {header.guid, static_cast<WORD>(header.major), static_cast<WORD>(header.minor),
                 header.lcid, static_cast<SYSKIND>(header.syskind)};
    report.name.assign(header.nameChars, L'\0');
    report.interfaces.resize(header.interfaces);
    HRESULT status =
        link_->Receive(report.name.data(), header.nameChars * sizeof(wchar_t), timeout);
    if (status == S_OK)
        status = link_->Receive(report.interfaces.data(), header.interfaces * sizeof(IID), timeout);
    if (status != S_OK) return Lost(status);
    return {kTrue, Failure::None};
}

RegistrarResult WorkerClient::Entries(uint32_t library, const worker::LibraryReport& loaded,
                                      unsigned long long fileBytes,
                                      worker::EntriesReport& entries) {
    RequestHeader request = Header(Request::Entries);
    request.library = library;
    if (RegistrarResult sent = Exchange(request, L"", L"", fileBytes); sent.flag != kTrue)
        return sent;
    const DWORD timeout = Timeout(fileBytes);
    worker::EntriesHeader header;
    HRESULT status = link_->Receive(&header, sizeof header, timeout);
    if (status == S_OK) status = CheckEntriesHeader(header, loaded.interfaces.size());
    if (status != S_OK) return Lost(status);
    if (header.status != S_OK) return {kFalse, Failure::NotTypeLib, header.status};
    entries.libFlags = static_cast<WORD>(header.libFlags);
    entries.libNamed = header.libNamed == 1;
    entries.interfaces.clear();
    unsigned long long nameChars = 0;
    for (const IID& expected : loaded.interfaces) {
        worker::EntryRecord record;
        status = link_->Receive(&record, sizeof record, timeout);
        if (status == S_OK) status = CheckEntryRecord(record, expected, nameChars, fileBytes);
        if (status != S_OK) return Lost(status);
        worker::InterfaceEntry entry;
        entry.iid = record.iid;
        entry.dispatchProxy = record.dispatchProxy == 1;
        entry.named = record.nameChars != worker::kNoName;
        if (entry.named) {
            nameChars += record.nameChars;
            entry.name.assign(record.nameChars, L'\0');
            status = link_->Receive(entry.name.data(), record.nameChars * sizeof(wchar_t), timeout);
            if (status != S_OK) return Lost(status);
        }
        entries.interfaces.push_back(std::move(entry));
    }
    return {kTrue, Failure::None};
}

RegistrarResult WorkerClient::Call(const RequestHeader& request, const std::wstring& text,
                                   const std::wstring& help, unsigned long long fileBytes) {
    if (RegistrarResult sent = Exchange(request, text, help, fileBytes); sent.flag != kTrue)
        return sent;
    CallReport report;
    HRESULT status = link_->Receive(&report, sizeof report, Timeout(fileBytes));
    if (status == S_OK) status = CheckCallReport(report);
    if (status != S_OK) return Lost(status);
    return Refused(report);
}

RegistrarResult WorkerClient::Register(uint32_t library, const std::wstring& path,
                                       const std::wstring& helpDir, Scope scope,
                                       unsigned long long fileBytes) {
    RequestHeader request = Header(Request::Register);
    request.library = library;
    request.scope = scope;
    return Call(request, path, helpDir, fileBytes);
}

RegistrarResult WorkerClient::UnregisterLoaded(uint32_t library, Scope scope,
                                               unsigned long long fileBytes) {
    RequestHeader request = Header(Request::UnregisterLoaded);
    request.library = library;
    request.scope = scope;
    return Call(request, L"", L"", fileBytes);
}

RegistrarResult WorkerClient::UnregisterIdentity(const LibraryId& id, Scope scope) {
    RequestHeader request = Header(Request::UnregisterIdentity);
    request.scope = scope;
    request.guid = id.guid;
    request.major = id.major;
    request.minor = id.minor;
    request.lcid = id.lcid;
    request.syskind = id.syskind;
    return Call(request, L"", L"", 0);
}

} // namespace vandrel
