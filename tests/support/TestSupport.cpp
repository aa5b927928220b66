#include "support/TestSupport.h"

#include "common/Owned.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <stdexcept>
#include <utility>
#include <vector>

namespace vandrel::test {
namespace {

void DeleteTree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                DeleteTree(child);
            } else {
                ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(find, &data));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(path.c_str());
}

// Saving a key writes its whole tree in one call (Wine's text format), where
// reading it key by key takes about a second for these trees.
bool MayBackUpKeys() {
    static const bool enabled = [] {
        HANDLE token = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token))
            return false;
        OwnedHandle owned(token);
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (!::LookupPrivilegeValueW(nullptr, L"SeBackupPrivilege", &privileges.Privileges[0].Luid))
            return false;
        return ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
               ::GetLastError() == ERROR_SUCCESS;
    }();
    return enabled;
}

} // namespace

std::string ReadBytes(const std::wstring& path) {
    OwnedFile in(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               0, nullptr));
    LARGE_INTEGER size{};
    if (!in || !::GetFileSizeEx(in.get(), &size)) throw std::runtime_error("cannot read a file");
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!::ReadFile(in.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
        throw std::runtime_error("cannot read a file");
    bytes.resize(read);
    return bytes;
}

namespace {

std::string SavedTree(HKEY key) {
    if (!MayBackUpKeys()) throw std::runtime_error("cannot enable the backup privilege");
    wchar_t folder[MAX_PATH];
    ::GetTempPathW(MAX_PATH, folder);
    static unsigned counter = 0;
    const std::wstring file = std::wstring(folder) + L"vandrel-registry-" +
                              std::to_wstring(::GetCurrentProcessId()) + L"-" +
                              std::to_wstring(++counter) + L".reg";
    ::DeleteFileW(file.c_str());
    const LSTATUS saved = ::RegSaveKeyExW(key, file.c_str(), nullptr, REG_LATEST_FORMAT);
    if (saved != ERROR_SUCCESS) throw std::runtime_error("cannot save a registry key");
    std::string text = ReadBytes(file);
    ::DeleteFileW(file.c_str());
    return text;
}

// Every line of a saved tree with its key's name in front, without the
// times at which keys were last written.
void AppendTree(HKEY hive, const std::wstring& path, REGSAM view, const std::wstring& label,
                std::wstring& out) {
    OwnedKey key;
    const LSTATUS opened = ::RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ | view, key.put());
    if (opened == ERROR_FILE_NOT_FOUND) {
        out += L"[" + label + L"] absent\n";
        return;
    }
    if (opened != ERROR_SUCCESS) throw std::runtime_error("cannot open a registry key");
    const std::string text = SavedTree(key.get());
    std::wstring current;
    bool inKeys = false; // the header comes first
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (line[0] == '[') {
            // "[name] 1234567890": the number is the time it was written.
            const size_t close = line.rfind(']');
            current = label + L"\\" + std::wstring(line.begin() + 1, line.begin() + close);
            out += current + L"\n";
            inKeys = true;
        } else if (inKeys && line.rfind("#time=", 0) != 0) {
            out += current + L": " + std::wstring(line.begin(), line.end()) + L"\n";
        }
    }
}

} // namespace

std::wstring WindowsPath(const std::string& unixPath) {
    std::wstring path = L"Z:";
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, unixPath.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n - 1 : 0), L'\0');
    if (n > 1) ::MultiByteToWideChar(CP_UTF8, 0, unixPath.c_str(), -1, wide.data(), n);
    for (auto& c : wide)
        if (c == L'/') c = L'\\';
    return path + wide;
}

std::wstring EnvFolder(const char* variable) {
    const char* value = std::getenv(variable);
    if (!value || !*value) throw std::runtime_error(std::string(variable) + " is not set");
    if (value[0] != '/') {
        // Already a Windows path.
        std::string text(value);
        return std::wstring(text.begin(), text.end());
    }
    return WindowsPath(value);
}

std::wstring Fixture(const std::wstring& name) {
    return EnvFolder("VANDREL_BUILD") + L"\\fixtures\\" + name;
}

std::wstring VandrelExe() {
    return EnvFolder("VANDREL_BUILD") + L"\\shell\\Vandrel.exe";
}

std::wstring FloorExe(const std::wstring& name) {
    return EnvFolder("VANDREL_BUILD") + L"\\bench\\" + name;
}

std::wstring WineLibraryFolder(bool is64) {
    return WindowsPath(is64 ? "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"
                            : "/usr/lib/i386-linux-gnu/wine/i386-windows");
}

namespace {
BOOL CALLBACK AddResourceId(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR ids) {
    // The loader takes a resource by number only.
    if (IS_INTRESOURCE(name))
        reinterpret_cast<std::vector<WORD>*>(ids)->push_back(
            static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name)));
    return TRUE;
}
} // namespace

std::vector<std::wstring> TypeLibrariesIn(const std::wstring& folder) {
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot list a folder");
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(data.cFileName);
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    std::sort(files.begin(), files.end());
    std::vector<std::wstring> libraries;
    for (const std::wstring& file : files) {
        const std::wstring path = folder + L"\\" + file;
        if (file.size() > 4 && _wcsicmp(file.c_str() + file.size() - 4, L".tlb") == 0) {
            libraries.push_back(path);
            continue;
        }
        // Whatever is not a module does not load.
        const OwnedModule module(::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        if (!module) continue;
        std::vector<WORD> ids;
        ::EnumResourceNamesW(module.get(), L"TYPELIB", AddResourceId,
                             reinterpret_cast<LONG_PTR>(&ids));
        std::sort(ids.begin(), ids.end());
        for (const WORD id : ids)
            libraries.push_back(id == 1 ? path : path + L"\\" + std::to_wstring(id));
    }
    return libraries;
}

TempFolder::TempFolder() {
    wchar_t base[MAX_PATH];
    ::GetTempPathW(MAX_PATH, base);
    static unsigned counter = 0;
    for (;;) {
        path_ = std::wstring(base) + L"vandrel-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(++counter);
        if (::CreateDirectoryW(path_.c_str(), nullptr)) break;
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            throw std::runtime_error("cannot create a temporary folder");
    }
}

TempFolder::~TempFolder() {
    DeleteTree(path_);
}

std::wstring TempFolder::Copy(const std::wstring& source, const std::wstring& name) const {
    const std::wstring target = path_ + L"\\" + name;
    const size_t slash = target.find_last_of(L'\\');
    ::CreateDirectoryW(target.substr(0, slash).c_str(), nullptr);
    if (!::CopyFileW(source.c_str(), target.c_str(), FALSE))
        throw std::runtime_error("cannot copy a fixture");
    return target;
}

void DeleteClassesKeys(const std::vector<std::wstring>& keys, std::initializer_list<HKEY> hives) {
    for (HKEY hive : hives)
        for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            OwnedKey classes;
            if (::RegOpenKeyExW(hive, L"Software\\Classes", 0, KEY_ALL_ACCESS | view,
                                classes.put()) != ERROR_SUCCESS)
                continue;
            for (const std::wstring& key : keys)
                ::RegDeleteTreeW(classes.get(), key.c_str());
        }
}

std::wstring MakeLibrary(const std::wstring& path, GUID guid, const wchar_t* name) {
    ComPtr<ICreateTypeLib2> library;
    if (::CreateTypeLib2(kNativeSyskind, path.c_str(), library.put()) != S_OK)
        throw std::runtime_error("cannot create a library");
    ComPtr<ICreateTypeInfo> info;
    HRESULT status = library->SetGuid(guid);
    if (status == S_OK) status = library->SetVersion(1, 0);
    if (status == S_OK && name) status = library->SetName(const_cast<wchar_t*>(name));
    std::wstring typeName = std::wstring(L"D") + (name ? name : L"Nameless");
    if (status == S_OK)
        status = library->CreateTypeInfo(typeName.data(), TKIND_DISPATCH, info.put());
    guid.Data4[7] = 0x02;
    if (status == S_OK) status = info->SetGuid(guid);
    if (status == S_OK) status = library->SaveAllChanges();
    if (status != S_OK) throw std::runtime_error("cannot write a library");
    return path;
}

std::wstring WithUnknownPlatform(const TempFolder& folder, const std::wstring& fixture,
                                 const std::wstring& name) {
    std::string bytes = ReadBytes(fixture);
    // The MSFT header's flags word: the platform kind is its low four bits.
    bytes.at(0x14) = static_cast<char>((bytes[0x14] & 0xF0) | 13);
    return folder.Write(name, bytes);
}

std::vector<std::wstring> NotFilePaths(const TempFolder& folder) {
    const std::wstring& in = folder.path();
    return {in + L"\\missing.tlb",
            in,
            L"NUL",
            L"CON",
            L"\\\\.\\NUL",
            in + L"\\" + std::wstring(300 - in.size(), L'm') + L".tlb"};
}

std::vector<std::wstring> NotTypeLibFiles(const TempFolder& folder) {
    return {folder.Write(L"empty.tlb", ""),
            folder.Write(L"text.tlb", "[library]\r\nnot a type library\r\n"),
            Fixture(L"Embedded.dll") + L"\\9"};
}

std::wstring TempFolder::Write(const std::wstring& name, const std::string& bytes) const {
    const std::wstring target = path_ + L"\\" + name;
    OwnedFile file(::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw std::runtime_error("cannot write a test file");
    DWORD written = 0;
    ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return target;
}

std::wstring RegistryTree(HKEY hive, const std::wstring& path, REGSAM view) {
    std::wstring out;
    AppendTree(hive, path, view, path, out);
    return out;
}

std::wstring ClassesSnapshot(HKEY hive) {
    struct View {
        REGSAM flag;
        const wchar_t* name;
    };
    const std::wstring label = hive == HKEY_LOCAL_MACHINE ? L"HKLM" : L"HKCU";
    std::wstring out;
    for (const View& view : {View{KEY_WOW64_64KEY, L"64"}, View{KEY_WOW64_32KEY, L"32"}})
        for (const wchar_t* tree : {L"TypeLib", L"Interface"})
            AppendTree(hive, std::wstring(L"Software\\Classes\\") + tree, view.flag,
                       label + L"(" + view.name + L")\\" + tree, out);
    return out;
}

void CreateUserClassesKeys() {
    for (const wchar_t* key : {L"Software\\Classes\\TypeLib", L"Software\\Classes\\Interface"}) {
        OwnedKey created;
        ::RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_READ, nullptr, created.put(),
                          nullptr);
    }
}

std::wstring RegistrySnapshot() {
    return ClassesSnapshot(HKEY_LOCAL_MACHINE) + ClassesSnapshot(HKEY_CURRENT_USER);
}

namespace {
std::vector<std::wstring> Lines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}
std::string Narrow(const std::wstring& text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
    if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    return out;
}
} // namespace

::testing::AssertionResult SameRegistry(const std::wstring& expected, const std::wstring& actual) {
    if (expected == actual) return ::testing::AssertionSuccess();
    const auto a = Lines(expected), b = Lines(actual);
    std::vector<std::wstring> sortedA(a), sortedB(b);
    std::sort(sortedA.begin(), sortedA.end());
    std::sort(sortedB.begin(), sortedB.end());
    std::vector<std::wstring> gone, added;
    std::set_difference(sortedA.begin(), sortedA.end(), sortedB.begin(), sortedB.end(),
                        std::back_inserter(gone));
    std::set_difference(sortedB.begin(), sortedB.end(), sortedA.begin(), sortedA.end(),
                        std::back_inserter(added));
    auto result = ::testing::AssertionFailure() << "registry changed: " << gone.size()
                                                << " lines gone, " << added.size() << " added";
    for (size_t i = 0; i < gone.size() && i < 6; ++i)
        result << "\n  - " << Narrow(gone[i]);
    for (size_t i = 0; i < added.size() && i < 6; ++i)
        result << "\n  + " << Narrow(added[i]);
    return result;
}

namespace {
const wchar_t kAside[] = L"Software\\VandrelTestClassesAside";
// Every open of a key in them names its view: a 32-bit process's relative open
// of a key under the 64-bit classes lands in the 32-bit ones.
constexpr REGSAM kViews[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
OwnedKey OpenMachineClasses(REGSAM view) {
    OwnedKey classes;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, KEY_ALL_ACCESS | view,
                        classes.put()) != ERROR_SUCCESS)
        throw std::runtime_error("cannot open the machine's classes");
    return classes;
}
std::wstring AsideKey(size_t view, size_t key) {
    return std::wstring(kAside) + L"\\" + std::to_wstring(view) + L"\\" + std::to_wstring(key);
}
} // namespace

ClassesAside::ClassesAside(std::vector<std::wstring> keys) : keys_(std::move(keys)) {
    // What an earlier run that never ended left aside is stale.
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kAside);
    before_ = RegistrySnapshot();
    for (size_t v = 0; v < std::size(kViews); ++v) {
        const OwnedKey classes = OpenMachineClasses(kViews[v]);
        for (size_t k = 0; k < keys_.size(); ++k) {
            OwnedKey key, aside;
            const LSTATUS opened = ::RegOpenKeyExW(classes.get(), keys_[k].c_str(), 0,
                                                   KEY_READ | kViews[v], key.put());
            present_.push_back(opened == ERROR_SUCCESS);
            if (opened == ERROR_FILE_NOT_FOUND) continue;
            if (opened != ERROR_SUCCESS ||
                ::RegCreateKeyExW(HKEY_CURRENT_USER, AsideKey(v, k).c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, aside.put(), nullptr) != ERROR_SUCCESS ||
                ::RegCopyTreeW(key.get(), nullptr, aside.get()) != ERROR_SUCCESS)
                throw std::runtime_error("cannot set registry keys aside");
        }
    }
}

ClassesAside::~ClassesAside() {
    for (size_t v = 0; v < std::size(kViews); ++v) {
        const OwnedKey classes = OpenMachineClasses(kViews[v]);
        for (size_t k = 0; k < keys_.size(); ++k) {
            const wchar_t* name = keys_[k].c_str();
            const bool present = present_[v * keys_.size() + k];
            OwnedKey key, aside;
            const LSTATUS opened =
                present ? ::RegCreateKeyExW(classes.get(), name, 0, nullptr, 0,
                                            KEY_ALL_ACCESS | kViews[v], nullptr, key.put(), nullptr)
                        : ::RegOpenKeyExW(classes.get(), name, 0, KEY_ALL_ACCESS | kViews[v],
                                          key.put());
            if (!present && opened == ERROR_FILE_NOT_FOUND) continue;
            bool restored =
                opened == ERROR_SUCCESS && ::RegDeleteTreeW(key.get(), nullptr) == ERROR_SUCCESS;
            if (present)
                restored = restored &&
                           ::RegOpenKeyExW(HKEY_CURRENT_USER, AsideKey(v, k).c_str(), 0, KEY_READ,
                                           aside.put()) == ERROR_SUCCESS &&
                           ::RegCopyTreeW(aside.get(), nullptr, key.get()) == ERROR_SUCCESS;
            else
                restored = restored &&
                           ::RegDeleteKeyExW(classes.get(), name, kViews[v], 0) == ERROR_SUCCESS;
            if (!restored)
                ADD_FAILURE() << "a registry key set aside did not come back: " << Narrow(name);
        }
    }
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kAside);
    EXPECT_TRUE(SameRegistry(before_, RegistrySnapshot())) << "after putting keys back";
}

bool RegistryKeyExists(HKEY root, const std::wstring& path) {
    OwnedKey key;
    return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::wstring RegistryDefaultValue(HKEY root, const std::wstring& path) {
    wchar_t data[2048];
    DWORD size = sizeof data;
    if (::RegGetValueW(root, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, data, &size) !=
        ERROR_SUCCESS)
        return L"";
    return data;
}

LibIdentity IdentityOf(const std::wstring& path) {
    ComPtr<ITypeLib> library;
    if (::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()) != S_OK)
        throw std::runtime_error("fixture does not load");
    TLIBATTR* attr = nullptr;
    if (library->GetLibAttr(&attr) != S_OK) throw std::runtime_error("no attributes");
    LibIdentity id{attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid};
    library->ReleaseTLibAttr(attr);
    return id;
}

std::wstring RegisteredPath(const LibIdentity& id) {
    BSTR path = nullptr;
    if (::QueryPathOfRegTypeLib(id.guid, id.major, id.minor, id.lcid, &path) != S_OK) return L"";
    std::wstring result(path, ::SysStringLen(path));
    ::SysFreeString(path);
    // The registry value may carry its terminator inside the length.
    while (!result.empty() && result.back() == L'\0')
        result.pop_back();
    return result;
}

std::wstring GuidText(const GUID& guid) {
    wchar_t text[64];
    ::StringFromGUID2(guid, text, 64);
    return text;
}

std::wstring TypeLibKey(const LibIdentity& id) {
    return L"TypeLib\\" + GuidText(id.guid);
}

} // namespace vandrel::test
