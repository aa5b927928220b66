// Writes the files of HostileLibraries.h into a folder, for scripts and for
// trying them by hand. With a library file as well, writes it inside a 16-bit
// module, plain and SZDD-compressed, to show that the module form loads.
//   MakeHostile.exe <folder> [library.tlb]
#include <exception>
#include <string>

#include <windows.h>

#include "common/Owned.h"
#include "support/HostileLibraries.h"
#include "support/TestSupport.h"

namespace {

bool Write(const std::wstring& path, const std::string& bytes) {
    vandrel::OwnedFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file &&
           ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) &&
           written == bytes.size();
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    using namespace vandrel::test;
    if (argc != 2 && argc != 3) return 2;
    try {
        const std::wstring folder = argv[1];
        const std::string runaway = RunawayAllocation();
        const struct {
            const wchar_t* name;
            std::string bytes;
        } files[] = {
            {L"SpinningSltg.tlb", SpinningSltg()},
            {L"RunawayAllocation.tlb", runaway},
            {L"CrashingLibrary.tlb", CrashingLibrary()},
            {L"RunawayAllocationNe.dll", NeModule(runaway)},
            {L"RunawayAllocationNeSzdd.dll", Szdd(NeModule(runaway))},
        };
        for (const auto& file : files)
            if (!Write(folder + L"\\" + file.name, file.bytes)) return 1;
        if (argc == 3) {
            const std::string library = ReadBytes(argv[2]);
            if (!Write(folder + L"\\LibraryNe.dll", NeModule(library)) ||
                !Write(folder + L"\\LibraryNeSzdd.dll", Szdd(NeModule(library))))
                return 1;
        }
        return 0;
    } catch (const std::exception&) {
        return 1;
    }
}
