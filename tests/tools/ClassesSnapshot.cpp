// Prints the TypeLib and Interface trees of the machine's or the current
// user's classes, in both registry views, as UTF-8 text: the snapshot the
// e2e tests compare, for the tests that drive Vandrel from a Linux shell.
// Like those tests, it first creates the user's two keys where missing.
//   ClassesSnapshot.exe machine|user
#include "support/TestSupport.h"

#include <windows.h>

#include <cstring>
#include <exception>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2 || (std::strcmp(argv[1], "machine") != 0 && std::strcmp(argv[1], "user") != 0))
        return 2;
    try {
        vandrel::test::CreateUserClassesKeys();
        const HKEY hive = argv[1][0] == 'm' ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        const std::wstring text = vandrel::test::ClassesSnapshot(hive);
        const int size = ::WideCharToMultiByte(
            CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
        std::string bytes(static_cast<std::size_t>(size), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                              size, nullptr, nullptr);
        DWORD written = 0;
        const BOOL wrote = ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(),
                                       static_cast<DWORD>(bytes.size()), &written, nullptr);
        return wrote && written == bytes.size() ? 0 : 1;
    } catch (const std::exception&) {
        return 1;
    }
}
