// Damaged copies of real libraries through Vandrel.exe in command mode:
// every run ends with status 0 or 1, never with an exception code or a
// hang; a copy that registers unregisters again; and after each failed run
// the TypeLib and Interface trees are exactly as before.
#include "driver/Driver.h"
#include "reliability/DamagedLibraries.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace vandrel::test {
namespace {

constexpr std::uint32_t kSeedsPerKind = 5;
constexpr std::uint32_t kSltgSeeds = 12;
// Past the worker's own time bound (twenty seconds): a run that Vandrel
// itself does not end within this is hung.
constexpr DWORD kCaseTimeout = 45000;
// A loader caught in a loop may allocate a gigabyte a second: a run past
// this much memory is stopped as a hang before it starves the machine.
constexpr SIZE_T kCaseMemory = SIZE_T{1} << 30;

// The exit status, or STILL_ACTIVE for a run stopped by time or memory.
DWORD WaitBounded(const Process& run) {
    for (DWORD waited = 0; waited < kCaseTimeout; waited += 100) {
        if (::WaitForSingleObject(run.handle(), 100) == WAIT_OBJECT_0) return run.Wait(0);
        PROCESS_MEMORY_COUNTERS memory{};
        if (::GetProcessMemoryInfo(run.handle(), &memory, sizeof memory) &&
            memory.WorkingSetSize > kCaseMemory)
            break;
    }
    return STILL_ACTIVE;
}

struct Tally {
    int cases = 0, registered = 0, refused = 0, crashed = 0, hung = 0;
    int notUnregistered = 0; // registered, but its unregistration failed
    int changedRegistry = 0; // failed, and left the registry other than it found it
};

std::wstring Quoted(const std::wstring& path) {
    return L"\"" + path + L"\"";
}

class DamagedLibraries : public ::testing::TestWithParam<const char*> {
protected:
    // Runs the cases in batches; returns the failures to report.
    std::vector<std::string> RunAll(const std::vector<Recipe>& cases) {
        std::vector<std::string> problems;
        std::wstring before = RegistrySnapshot();
        for (const Recipe& recipe : cases) {
            const bool registered = RunCase(recipe, problems);
            // A damaged copy that registers may claim the interfaces of other
            // libraries, and its round trip then rewrites their keys; a failed
            // run must change nothing at all. What a run leaves is what the
            // next one starts from.
            std::wstring after = RegistrySnapshot();
            const auto same = SameRegistry(registered ? after : before, after);
            before = std::move(after);
            if (same) continue;
            ++tally[static_cast<int>(recipe.kind)].changedRegistry;
            ADD_FAILURE() << RecipeName(recipe)
                          << " failed and changed the registry: " << same.message();
        }
        return problems;
    }

    // False when the run failed cleanly (status 1).
    bool RunCase(const Recipe& recipe, std::vector<std::string>& problems) {
        Tally& count = tally[static_cast<int>(recipe.kind)];
        ++count.cases;
        const std::wstring path = folder.Write(
            L"case" + std::to_wstring(++written) + ExtensionOf(recipe), DamagedLibrary(recipe));
        DWORD status;
        {
            Process run = Process::Start(VandrelExe(), Quoted(path) + L" /s");
            status = WaitBounded(run);
            // A hung run is killed when `run` goes.
        }
        if (status == 1) {
            ++count.refused;
            ::DeleteFileW(path.c_str());
            return false;
        }
        if (status == 0) {
            ++count.registered;
            const DWORD undone = test::Run(VandrelExe(), Quoted(path) + L" /u /s", kCaseTimeout);
            if (undone != 0) {
                ++count.notUnregistered;
                if (undone != 1)
                    problems.push_back(RecipeName(recipe) + ": unregistration ended with " +
                                       Hex(undone));
            }
            ::DeleteFileW(path.c_str());
            return true;
        }
        if (status == STILL_ACTIVE) {
            ++count.hung;
            problems.push_back(RecipeName(recipe) + ": hung (time or memory)");
        } else {
            ++count.crashed;
            problems.push_back(RecipeName(recipe) + ": ended with " + Hex(status));
        }
        ::DeleteFileW(path.c_str());
        return false;
    }

    static std::string Hex(DWORD value) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
        return text;
    }

    void PrintTally(const char* base) const {
        std::printf("%-9s %-10s %5s %10s %7s %7s %4s %15s %14s\n", "base", "damage", "cases",
                    "registered", "refused", "crashed", "hung", "not unregistered",
                    "changed registry");
        for (int kind = 0; kind < kDamageKinds; ++kind) {
            const Tally& t = tally[kind];
            if (t.cases == 0) continue;
            std::printf("%-9s %-10s %5d %10d %7d %7d %4d %15d %14d\n", base,
                        DamageName(static_cast<Damage>(kind)), t.cases, t.registered, t.refused,
                        t.crashed, t.hung, t.notUnregistered, t.changedRegistry);
        }
        std::fflush(stdout);
    }

    Tally tally[kDamageKinds];
    TempFolder folder;
    int written = 0;
};

// One group per base (and one of SLTG-headed noise), so that each stays
// well inside a test's time.
TEST_P(DamagedLibraries, EndInSuccessOrFailureNeverInACrashOrAHang) {
    const std::string base = GetParam();
    std::vector<Recipe> cases;
    if (base == "sltg") {
        for (std::uint32_t seed = 1; seed <= kSltgSeeds; ++seed)
            cases.push_back({"sltg", Damage::Sltg, seed});
    } else {
        for (int kind = 0; kind < kDamageKinds; ++kind)
            if (static_cast<Damage>(kind) != Damage::Sltg)
                for (std::uint32_t seed = 1; seed <= kSeedsPerKind; ++seed)
                    cases.push_back({GetParam(), static_cast<Damage>(kind), seed});
    }
    const std::vector<std::string> problems = RunAll(cases);
    PrintTally(GetParam());
    std::string list;
    for (const auto& problem : problems)
        list += "\n  " + problem;
    EXPECT_TRUE(problems.empty()) << problems.size() << " of " << cases.size() << " cases:" << list;
}

INSTANTIATE_TEST_SUITE_P(Bases, DamagedLibraries,
                         ::testing::Values("stdole2", "activeds", "scrrun", "widl", "sltg"),
                         [](const auto& info) { return std::string(info.param); });

// Every recorded case of this bitness that stopped Vandrel (or ran away with
// its memory) before ends in success or failure now.
TEST(DamagedLibrariesThatCrashed, NoLongerCrashOrHang) {
    const char* const bitness = VandrelIs64Bit() ? "@x64" : "@x86";
    TempFolder folder;
    int ran = 0;
    for (int i = 0; i < kCrashedBeforeCount; ++i) {
        const Recipe& recipe = kCrashedBefore[i];
        const std::string base = recipe.base;
        if (recipe.kind != Damage::Sltg && base.find(bitness) == std::string::npos) continue;
        ++ran;
        const std::wstring path = folder.Write(
            L"crashed" + std::to_wstring(i) + ExtensionOf(recipe), DamagedLibrary(recipe));
        Process run = Process::Start(VandrelExe(), Quoted(path) + L" /s");
        const DWORD status = WaitBounded(run);
        // A wild read that faulted once may land in mapped memory another
        // time: then the worker reads it whole, and the copy registers.
        EXPECT_TRUE(status == 0 || status == 1) << RecipeName(recipe) << ": " << status;
        if (status == 0) {
            EXPECT_EQ(test::Run(VandrelExe(), Quoted(path) + L" /u /s", kCaseTimeout), 0u)
                << RecipeName(recipe);
        }
    }
    EXPECT_GT(ran, 0) << "no recorded case for this bitness";
}

} // namespace
} // namespace vandrel::test
