// A worker's report is untrusted: every field is checked, and a report that
// fails a check, or ends early, is a damaged library whose worker is ended.
#include "registrar/host/Worker.h"
#include "support/ScopedSeam.h"

#include <gtest/gtest.h>

#include <cstring>

namespace vandrel {
namespace {

using worker::CallReport;
using worker::LoadHeader;
using worker::Stage;

LoadHeader Loaded() {
    LoadHeader header{};
    header.mark = worker::kReportMark;
    header.guid = {1, 2, 3, {4}};
    header.major = 1;
    header.syskind = SYS_WIN64;
    header.nameChars = 10;
    header.interfaces = 4;
    return header;
}

TEST(WorkerReport, EveryFieldIsCheckedAgainstTheFile) {
    constexpr unsigned long long kFile = 64; // room for 4 identifiers
    struct Case {
        const char* what;
        void (*change)(LoadHeader&);
        bool sound;
    };
    const Case cases[] = {
        {"as loaded", [](LoadHeader&) {}, true},
        {"a refusal with nothing else",
         [](LoadHeader& h) {
             h = {};
             h.mark = worker::kReportMark;
             h.status = E_FAIL;
         },
         true},
        {"no mark", [](LoadHeader& h) { h.mark = 0; }, false},
        {"more interfaces than the file holds", [](LoadHeader& h) { h.interfaces = 5; }, false},
        {"a count near the top", [](LoadHeader& h) { h.interfaces = 0xFFFFFFFF; }, false},
        {"a name longer than the file", [](LoadHeader& h) { h.nameChars = 65; }, false},
        // The platform's registration refuses it, as it would without a worker.
        {"a platform kind no loader knows", [](LoadHeader& h) { h.syskind = 7; }, true},
        {"a version past 16 bits", [](LoadHeader& h) { h.minor = 0x10000; }, false},
        {"a refusal that carries an identity", [](LoadHeader& h) { h.status = E_FAIL; }, false},
    };
    for (const Case& c : cases) {
        LoadHeader header = Loaded();
        c.change(header);
        EXPECT_EQ(CheckLoadReport(header, kFile), c.sound ? S_OK : kMalformedReport) << c.what;
    }
    EXPECT_EQ(CheckCallReport({worker::kReportMark, E_FAIL, Stage::Call}), S_OK);
    EXPECT_EQ(CheckCallReport({worker::kReportMark, S_OK, static_cast<Stage>(4)}),
              kMalformedReport);
    EXPECT_EQ(CheckCallReport({0, S_OK, Stage::Call}), kMalformedReport);
}

TEST(WorkerReport, AnEntriesReportNamesTheLoadedInterfacesWithinTheFile) {
    constexpr unsigned long long kFile = 64;
    const IID loaded = {1, 2, 3, {4}};
    const worker::EntriesHeader sound = {worker::kReportMark, S_OK, 8, 1, 1};
    EXPECT_EQ(CheckEntriesHeader(sound, 1), S_OK);
    EXPECT_EQ(CheckEntriesHeader({worker::kReportMark, S_OK, 8, 0, 1}, 1), S_OK);
    EXPECT_EQ(CheckEntriesHeader({worker::kReportMark, E_FAIL, 0, 0, 0}, 1), S_OK);
    EXPECT_EQ(CheckEntriesHeader({worker::kReportMark, E_FAIL, 8, 0, 0}, 1), kMalformedReport);
    EXPECT_EQ(CheckEntriesHeader({worker::kReportMark, E_FAIL, 0, 1, 0}, 1), kMalformedReport);
    EXPECT_EQ(CheckEntriesHeader({0, S_OK, 8, 1, 1}, 1), kMalformedReport);
    EXPECT_EQ(CheckEntriesHeader({worker::kReportMark, S_OK, 0x10000, 1, 1}, 1), kMalformedReport);
    EXPECT_EQ(CheckEntriesHeader({worker::kReportMark, S_OK, 8, 2, 1}, 1), kMalformedReport);
    EXPECT_EQ(CheckEntriesHeader({worker::kReportMark, S_OK, 8, 1, 2}, 1), kMalformedReport);
    struct Case {
        const char* what;
        worker::EntryRecord record;
        unsigned long long namedSoFar;
        bool sound;
    };
    const Case cases[] = {
        {"as loaded", {loaded, 1, 10}, 0, true},
        {"no name", {loaded, 0, worker::kNoName}, 64, true},
        {"another interface", {{9, 2, 3, {4}}, 0, 10}, 0, false},
        {"a proxy that is neither", {loaded, 2, 10}, 0, false},
        {"names longer than the file", {loaded, 0, 10}, 60, false},
        {"a name near the top", {loaded, 0, worker::kNoName - 1}, 0, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CheckEntryRecord(c.record, loaded, c.namedSoFar, kFile),
                  c.sound ? S_OK : kMalformedReport)
            << c.what;
}

// A link that answers with fixed bytes and counts its ends.
int g_ended = 0;
std::string g_answer;
class CannedLink final : public WorkerLink {
public:
    HRESULT Send(const std::string&, DWORD) override { return S_OK; }
    HRESULT Receive(void* bytes, size_t size, DWORD) override {
        if (g_answer.size() < size) return HRESULT_FROM_WIN32(ERROR_BROKEN_PIPE);
        std::memcpy(bytes, g_answer.data(), size);
        g_answer.erase(0, size);
        return S_OK;
    }
    void End() override { ++g_ended; }
};
std::unique_ptr<WorkerLink> StartCanned(const WorkerStarter&, HRESULT& status) {
    status = S_OK;
    return std::make_unique<CannedLink>();
}

TEST(WorkerReport, AMalformedOrShortReportEndsTheWorkerAsDamaged) {
    const WorkerStarter canned = {StartCanned, nullptr, kWorkerBounds};
    const test::ScopedSeam<WorkerStarter> seam(WorkerSeam(), canned);
    LoadHeader tooMany = Loaded();
    tooMany.interfaces = 1000;
    const LoadHeader sound = Loaded();
    struct Case {
        const char* what;
        std::string bytes;
        HRESULT status;
    };
    const Case cases[] = {
        {"malformed", std::string(reinterpret_cast<const char*>(&tooMany), sizeof tooMany),
         kMalformedReport},
        {"header cut short", std::string(reinterpret_cast<const char*>(&sound), 8),
         HRESULT_FROM_WIN32(ERROR_BROKEN_PIPE)},
        {"no name or interfaces after a sound header",
         std::string(reinterpret_cast<const char*>(&sound), sizeof sound),
         HRESULT_FROM_WIN32(ERROR_BROKEN_PIPE)},
    };
    for (const Case& c : cases) {
        g_answer = c.bytes;
        g_ended = 0;
        worker::LibraryReport report;
        {
            WorkerClient client;
            const RegistrarResult result =
                client.Load(L"C:\\x.tlb", 64, PlatformCall::Register, report);
            EXPECT_EQ(result.failure, Failure::Damaged) << c.what;
            EXPECT_EQ(result.status, c.status) << c.what;
            EXPECT_EQ(g_ended, 1) << c.what << ": ended before the failure is reported";
        }
        EXPECT_EQ(g_ended, 1) << c.what;
    }
}

} // namespace
} // namespace vandrel
