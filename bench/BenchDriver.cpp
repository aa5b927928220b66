// Times Vandrel against its floor programs and prints one Markdown table.
//   BenchDriver vandrel.exe floorFolder small.tlb large.tlb pairs [label=file ...]
// Runs alternate Vandrel, floor, Vandrel, floor... so that drift in the
// machine's speed falls on both alike; each pair gives one ratio.
#include <windows.h>
#include <oleauto.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

double Now() {
    static const double perMillisecond = [] {
        LARGE_INTEGER frequency;
        ::QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / perMillisecond;
}

class Child {
public:
    Child(const std::wstring& exe, const std::wstring& arguments) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        std::wstring line = L"\"" + exe + L"\"";
        if (!arguments.empty()) line += L" " + arguments;
        if (!::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &startup, &info_))
            throw std::runtime_error("cannot start a program");
        ::CloseHandle(info_.hThread);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (!Ended(0)) {
            ::TerminateProcess(info_.hProcess, 1);
            ::WaitForSingleObject(info_.hProcess, 5000);
        }
        ::CloseHandle(info_.hProcess);
    }
    bool Ended(DWORD milliseconds) const {
        return ::WaitForSingleObject(info_.hProcess, milliseconds) == WAIT_OBJECT_0;
    }
    DWORD ExitCode() const {
        DWORD code = 0;
        ::GetExitCodeProcess(info_.hProcess, &code);
        return code;
    }
    // Wine reports nothing once the process is gone, so callers sample this
    // while it runs; the peak only grows.
    SIZE_T PeakWorkingSet() const {
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        if (!::GetProcessMemoryInfo(info_.hProcess, &counters, sizeof counters)) return 0;
        return counters.PeakWorkingSetSize;
    }
    DWORD id() const { return info_.dwProcessId; }

private:
    PROCESS_INFORMATION info_{};
};

struct Sample {
    double milliseconds = 0;
    double peakBytes = 0;
    double workerPeakBytes = 0; // Vandrel's worker, where it starts one
};

// The process `parent` started, once there is one.
HANDLE OpenChildOf(DWORD parent) {
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return nullptr;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    HANDLE child = nullptr;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more && !child;
         more = ::Process32NextW(snapshot, &entry))
        if (entry.th32ParentProcessID == parent)
            child = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                                  entry.th32ProcessID);
    ::CloseHandle(snapshot);
    return child;
}

SIZE_T PeakOf(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!::GetProcessMemoryInfo(process, &counters, sizeof counters)) return 0;
    return counters.PeakWorkingSetSize;
}

Sample RunCommand(const std::wstring& exe, const std::wstring& arguments, bool sampleMemory) {
    Sample sample;
    const double start = Now();
    Child child(exe, arguments);
    if (sampleMemory) {
        SIZE_T peak = 0, workerPeak = 0;
        HANDLE worker = nullptr;
        while (!child.Ended(1)) {
            peak = std::max(peak, child.PeakWorkingSet());
            if (!worker) worker = OpenChildOf(child.id());
            if (worker) workerPeak = std::max(workerPeak, PeakOf(worker));
        }
        if (worker) ::CloseHandle(worker);
        sample.peakBytes = static_cast<double>(peak);
        sample.workerPeakBytes = static_cast<double>(workerPeak);
    } else {
        child.Ended(INFINITE);
    }
    sample.milliseconds = Now() - start;
    if (child.ExitCode() != 0) throw std::runtime_error("a measured command failed");
    return sample;
}

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindVisible(HWND window, LPARAM param) {
    auto& search = *reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != search.processId || !::IsWindowVisible(window)) return TRUE;
    search.found = window;
    return FALSE;
}

// From process creation to a visible top-level window; then the peak working
// set once it has settled, and the window is closed.
Sample RunWindow(const std::wstring& exe) {
    Sample sample;
    const double start = Now();
    Child child(exe, L"");
    WindowSearch search{child.id(), nullptr};
    while (!search.found) {
        if (child.Ended(0)) throw std::runtime_error("a window program ended early");
        if (Now() - start > 30000) throw std::runtime_error("no window appeared");
        ::EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&search));
        if (!search.found) ::Sleep(1);
    }
    sample.milliseconds = Now() - start;
    ::Sleep(300);
    sample.peakBytes = static_cast<double>(child.PeakWorkingSet());
    ::PostMessageW(search.found, WM_CLOSE, 0, 0);
    if (!child.Ended(10000)) throw std::runtime_error("a window did not close");
    return sample;
}

void RegisterInProcess(const std::wstring& path) {
    ITypeLib* library = nullptr;
    if (::LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library) != S_OK)
        throw std::runtime_error("cannot load a benchmark library");
    std::wstring copy = path;
    wchar_t noHelp[] = L"";
    const HRESULT status = ::RegisterTypeLib(library, copy.data(), noHelp);
    library->Release();
    if (status != S_OK) throw std::runtime_error("cannot register a benchmark library");
}

// Leaves the library unregistered, so that the next registration writes
// every key anew; nothing registered is no failure.
void UnregisterInProcess(const std::wstring& path) {
    ITypeLib* library = nullptr;
    if (::LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library) != S_OK)
        throw std::runtime_error("cannot load a benchmark library");
    TLIBATTR* attr = nullptr;
    if (library->GetLibAttr(&attr) == S_OK) {
        ::UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid,
                            attr->syskind);
        library->ReleaseTLibAttr(attr);
    }
    library->Release();
}

double Quantile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    const double at = q * static_cast<double>(values.size() - 1);
    const size_t low = static_cast<size_t>(at);
    const size_t high = std::min(low + 1, values.size() - 1);
    return values[low] + (values[high] - values[low]) * (at - static_cast<double>(low));
}

struct Pairs {
    std::vector<double> vandrel, floor, ratio;
    void Add(double a, double b) {
        vandrel.push_back(a);
        floor.push_back(b);
        ratio.push_back(a / b);
    }
};

// The share of the machine's processor time, over all its processors, that
// was not idle since construction: other people's work shows up here.
class MachineLoad {
public:
    MachineLoad() { ::GetSystemTimes(&idle_, &kernel_, &user_); }
    double Busy() const {
        FILETIME idle, kernel, user;
        ::GetSystemTimes(&idle, &kernel, &user);
        // Kernel time includes idle time.
        const double total = Ticks(kernel) - Ticks(kernel_) + Ticks(user) - Ticks(user_);
        return total > 0 ? 1.0 - (Ticks(idle) - Ticks(idle_)) / total : 0.0;
    }

private:
    static double Ticks(const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime);
    }
    FILETIME idle_{}, kernel_{}, user_{};
};

// A timed pair is measured again (up to kRetries times) when the machine was
// busier during it than during the quietest pair of the same measure by more
// than kBusyMargin (a share of all processors): on a shared machine, someone
// else's build would otherwise land on one side of the pair. A measure's own
// load differs (the large library keeps the Wine server busy beside the
// program), hence the quietest pair as the reference.
constexpr double kBusyMargin = 0.3;
constexpr int kRetries = 4;
int g_pairsRepeated = 0;

// Measures `pairs` alternating pairs after one unmeasured warm-up pair, into
// the time and peak-memory pairs given (either may be null).
void Alternate(int pairs, const std::function<Sample(bool vandrel)>& measure, Pairs* time,
               Pairs* peak, Pairs* workerPeak = nullptr) {
    const MachineLoad warmUp;
    measure(true);
    measure(false);
    double quietest = warmUp.Busy();
    for (int i = 0; i < pairs; ++i) {
        for (int attempt = 0;; ++attempt) {
            const MachineLoad load;
            const Sample a = measure(true);
            const Sample b = measure(false);
            const double busy = load.Busy();
            quietest = std::min(quietest, busy);
            // Memory does not depend on the load; sampling it keeps the
            // driver busy too.
            if (time && busy > quietest + kBusyMargin && attempt < kRetries) {
                ++g_pairsRepeated;
                continue;
            }
            if (time) time->Add(a.milliseconds, b.milliseconds);
            if (peak) peak->Add(a.peakBytes, b.peakBytes);
            if (workerPeak) workerPeak->Add(a.workerPeakBytes, b.peakBytes);
            break;
        }
    }
}

// A target of 0 marks a row that is there for information only.
void Row(const char* what, const Pairs& p, const char* unit, double scale, double target) {
    const double ratio = Quantile(p.ratio, 0.5);
    std::printf("| %s | %.1f %s | %.1f %s | %.3f | %.3f–%.3f | ", what,
                Quantile(p.vandrel, 0.5) / scale, unit, Quantile(p.floor, 0.5) / scale, unit, ratio,
                Quantile(p.ratio, 0.25), Quantile(p.ratio, 0.75));
    if (target > 0)
        std::printf("≤ %.2f | %s |\n", target, ratio <= target ? "yes" : "**no**");
    else
        std::printf("(information) | |\n");
}

// Vandrel's time less the floor's, pair by pair, against one empty process
// start measured in the same pairs: what Vandrel may add is one start (its
// worker's).
void StartRow(const char* what, const Pairs& p, const std::vector<double>& empty) {
    std::vector<double> added;
    for (size_t i = 0; i < p.vandrel.size(); ++i)
        added.push_back(p.vandrel[i] - p.floor[i]);
    const double more = Quantile(added, 0.5), start = Quantile(empty, 0.5);
    std::printf("| %s: Vandrel − floor | %.1f ms | %.1f ms | %.1f ms | %.1f–%.1f ms | ≤ one empty "
                "start (%.1f ms) | %s |\n",
                what, Quantile(p.vandrel, 0.5), Quantile(p.floor, 0.5), more, Quantile(added, 0.25),
                Quantile(added, 0.75), start, more <= start ? "yes" : "**no**");
}

std::wstring Arg(wchar_t** argv, int i) {
    return argv[i];
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: BenchDriver vandrel.exe floorFolder small.tlb large.tlb "
                             "pairs [label=file ...]\n");
        return 2;
    }
    try {
        const std::wstring vandrel = Arg(argv, 1), floors = Arg(argv, 2);
        const std::wstring small = Arg(argv, 3), large = Arg(argv, 4);
        const int pairs = std::max(1, static_cast<int>(std::wcstol(argv[5], nullptr, 10)));
        const std::wstring reg = floors + L"\\RegisterFloor.exe";
        const std::wstring unreg = floors + L"\\UnregisterFloor.exe";
        const std::wstring mainWindow = floors + L"\\MainWindowFloor.exe";
        const std::wstring emptyWindow = floors + L"\\WindowFloor.exe";
        const std::wstring emptyProgram = floors + L"\\EmptyProgram.exe";
        // One empty start after each timed pair of the small library.
        std::vector<double> emptyStarts;
        auto emptyStart = [&] {
            emptyStarts.push_back(RunCommand(emptyProgram, L"", false).milliseconds);
        };

        auto registerPairs = [&](const std::wstring& lib, bool memory, Pairs& out,
                                 Pairs* worker = nullptr, bool withEmpty = false) {
            Alternate(
                pairs,
                [&](bool isVandrel) {
                    if (!isVandrel && withEmpty) emptyStart();
                    return isVandrel ? RunCommand(vandrel, lib + L" /s", memory)
                                     : RunCommand(reg, lib, memory);
                },
                memory ? nullptr : &out, memory ? &out : nullptr, worker);
        };
        auto unregisterPairs = [&](bool memory, Pairs& out) {
            Alternate(
                pairs,
                [&](bool isVandrel) {
                    RegisterInProcess(small);
                    if (!isVandrel && !memory) emptyStart();
                    return isVandrel ? RunCommand(vandrel, small + L" /u /s", memory)
                                     : RunCommand(unreg, small, memory);
                },
                memory ? nullptr : &out, memory ? &out : nullptr);
        };
        auto firstRegistrationPairs = [&](Pairs& out) {
            Alternate(
                pairs,
                [&](bool isVandrel) {
                    UnregisterInProcess(large);
                    return isVandrel ? RunCommand(vandrel, large + L" /s", false)
                                     : RunCommand(reg, large, false);
                },
                &out, nullptr);
        };
        auto windowPairs = [&](const std::wstring& floor, Pairs& time, Pairs& peak) {
            Alternate(
                pairs, [&](bool isVandrel) { return RunWindow(isVandrel ? vandrel : floor); },
                &time, &peak);
        };

        Pairs regTime, regPeak, unregTime, unregPeak, bigTime, bigPeak, bigWorkerPeak, bigFirstTime;
        Pairs winTime, winPeak, emptyTime, emptyPeak;
        registerPairs(small, false, regTime, nullptr, true);
        registerPairs(small, true, regPeak);
        unregisterPairs(false, unregTime);
        unregisterPairs(true, unregPeak);
        windowPairs(mainWindow, winTime, winPeak);
        windowPairs(emptyWindow, emptyTime, emptyPeak);
        firstRegistrationPairs(bigFirstTime);
        registerPairs(large, false, bigTime);
        registerPairs(large, true, bigPeak, &bigWorkerPeak);

        const double mb = 1024.0 * 1024.0;
        std::printf("| Measure (%d pairs) | Vandrel, median | Floor, median | Ratio per pair, "
                    "median | Ratio, 25th–75th percentile | Target | Met |\n",
                    pairs);
        std::printf("|---|---|---|---|---|---|---|\n");
        StartRow("Register `lib.tlb /s`", regTime, emptyStarts);
        StartRow("Unregister `lib.tlb /u /s`", unregTime, emptyStarts);
        Row("Register `lib.tlb /s`", regTime, "ms", 1, 0);
        Row("Unregister `lib.tlb /u /s`", unregTime, "ms", 1, 0);
        Row("Register a large library `/s`, first time", bigFirstTime, "ms", 1, 1.10);
        Row("Register a large library `/s` again", bigTime, "ms", 1, 1.10);
        Row("Window start (creation to visible)", winTime, "ms", 1, 1.05);
        Row("Window start against an empty window", emptyTime, "ms", 1, 0);
        Row("Peak working set, register", regPeak, "MB", mb, 1.10);
        Row("Peak working set, unregister", unregPeak, "MB", mb, 1.10);
        Row("Peak working set, large library: the worker", bigWorkerPeak, "MB", mb, 1.30);
        Row("Peak working set, large library: Vandrel's own process", bigPeak, "MB", mb, 0);
        Row("Peak working set, window", winPeak, "MB", mb, 1.05);
        Row("Peak working set, window against an empty window", emptyPeak, "MB", mb, 0);
        for (int i = 6; i < argc; ++i) {
            const std::wstring item = argv[i];
            const size_t equals = item.find(L'=');
            if (equals == std::wstring::npos) continue;
            WIN32_FILE_ATTRIBUTE_DATA data;
            const std::wstring file = item.substr(equals + 1);
            if (!::GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) continue;
            std::printf("| Size of `%ls` | %lu bytes | | | | ≤ 204,800 bytes | %s |\n",
                        item.substr(0, equals).c_str(), data.nFileSizeLow,
                        data.nFileSizeLow <= 204800 ? "yes" : "**no**");
        }
        std::printf("\nTimed pairs measured again because the machine was busy: %d.\n",
                    g_pairsRepeated);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "benchmark failed: %s\n", e.what());
        return 1;
    }
}
