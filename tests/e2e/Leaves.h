// What the e2e tests of the questions (/q, /orphans, /check) share: their
// answers as lines, a drive the prefix does not map, and registry leaves
// written by hand.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace vandrel::test {

inline std::vector<std::wstring> Lines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    std::wistringstream in(text);
    for (std::wstring line; std::getline(in, line);) {
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The lines of `after` that `before` does not hold.
inline std::vector<std::wstring> NewLines(const std::wstring& before, const std::wstring& after) {
    const std::vector<std::wstring> old = Lines(before);
    std::vector<std::wstring> added;
    for (const std::wstring& line : Lines(after))
        if (std::find(old.begin(), old.end(), line) == old.end()) added.push_back(line);
    return added;
}

// A drive letter the prefix does not map.
inline std::wstring UnmappedDrive() {
    for (wchar_t letter = L'Q'; letter <= L'Y'; ++letter)
        if (::GetDriveTypeW((std::wstring(1, letter) + L":\\").c_str()) == DRIVE_NO_ROOT_DIR)
            return std::wstring(1, letter) + L":";
    return L"";
}

// A key under the hive's Software\Classes (the machine's unless given) in
// one view, with one string value.
inline void Put(HKEY hive, REGSAM view, const std::wstring& key, const wchar_t* name,
                const std::wstring& data, DWORD type = REG_SZ) {
    HKEY created = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(hive, (L"Software\\Classes\\" + key).c_str(), 0, nullptr, 0,
                                KEY_WRITE | view, nullptr, &created, nullptr),
              ERROR_SUCCESS)
        << key;
    ::RegSetValueExW(created, name, 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                     static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(created);
}
inline void Put(REGSAM view, const std::wstring& key, const wchar_t* name, const std::wstring& data,
                DWORD type = REG_SZ) {
    Put(HKEY_LOCAL_MACHINE, view, key, name, data, type);
}

} // namespace vandrel::test
