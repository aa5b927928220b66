#include "registrar/host/RegistryUndo.h"

#include "common/Owned.h"

#include <exception>

#include <algorithm>
#include <cwctype>
#include <utility>

namespace vandrel {
namespace {

// The Win32 calls take names up to their first NUL: such a name would be
// written back, or removed, as another one.
bool Writable(const std::wstring& name) {
    return name.find(L'\0') == std::wstring::npos;
}

std::wstring Join(const std::wstring& parent, const std::wstring& name) {
    return parent.empty() ? name : parent + L"\\" + name;
}

// The recorded keys split into parent and name, grouped by parent in the
// order they came.
using Named = std::pair<std::wstring, const RegistryUndo::Shape*>;
std::vector<std::pair<std::wstring, std::vector<Named>>>
ByParent(const std::vector<RegistryUndo::Watched>& keys) {
    std::vector<std::pair<std::wstring, std::vector<Named>>> groups;
    for (const RegistryUndo::Watched& watched : keys) {
        const std::wstring& key = watched.key;
        const size_t slash = key.find_last_of(L'\\');
        std::wstring parent = slash == std::wstring::npos ? L"" : key.substr(0, slash);
        std::wstring name = slash == std::wstring::npos ? key : key.substr(slash + 1);
        auto found = groups.begin();
        while (found != groups.end() && found->first != parent)
            ++found;
        if (found == groups.end()) found = groups.insert(groups.end(), {std::move(parent), {}});
        found->second.emplace_back(std::move(name), watched.shape);
    }
    return groups;
}

// The names of a parent's subkeys, sorted, when it has fewer than `wanted`
// of them: then listing them costs fewer round trips than opening each
// wanted name. Nothing when it has as many or more.
bool FewSubkeys(const RegistrarPlatform& calls, HKEY parent, size_t wanted,
                std::vector<std::wstring>& names, bool& few) {
    DWORD subkeys = 0, longest = 0;
    few = false;
    if (calls.RegQueryInfoKeyW(parent, nullptr, nullptr, nullptr, &subkeys, &longest, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    if (subkeys >= wanted) return true;
    std::wstring name(longest + 1, L'\0');
    for (DWORD i = 0; i < subkeys; ++i) {
        DWORD length = longest + 1;
        const LSTATUS status = calls.RegEnumKeyExW(parent, i, name.data(), &length, nullptr,
                                                   nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) return false;
        names.push_back(name.substr(0, length));
    }
    for (std::wstring& listed : names)
        for (wchar_t& c : listed)
            c = static_cast<wchar_t>(::towupper(c));
    std::sort(names.begin(), names.end());
    few = true;
    return true;
}

bool Listed(const std::vector<std::wstring>& names, const std::wstring& name) {
    std::wstring upper = name;
    for (wchar_t& c : upper)
        c = static_cast<wchar_t>(::towupper(c));
    return std::binary_search(names.begin(), names.end(), upper);
}

} // namespace

std::vector<RegistryRoot> LocalMachineClassesRoots() {
    return {
        {HKEY_LOCAL_MACHINE, L"Software\\Classes", KEY_WOW64_64KEY},
        {HKEY_LOCAL_MACHINE, L"Software\\Classes", KEY_WOW64_32KEY},
    };
}

std::vector<RegistryRoot> UserClassesRoots() {
    return {
        {HKEY_CURRENT_USER, L"Software\\Classes", KEY_WOW64_64KEY},
        {HKEY_CURRENT_USER, L"Software\\Classes", KEY_WOW64_32KEY},
    };
}

std::vector<RegistryRoot> MachineClassesRoots() {
    std::vector<RegistryRoot> roots = LocalMachineClassesRoots();
    for (const RegistryRoot& root : UserClassesRoots())
        roots.push_back(root);
    return roots;
}

// One round trip for the sizes, then one per value and per subkey name.
bool RegistryUndo::ReadKey(HKEY key, Listing& listing) const {
    DWORD subkeys = 0, subkeyChars = 0, values = 0, nameChars = 0, dataBytes = 0;
    if (calls_.RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &subkeyChars, nullptr,
                                &values, &nameChars, &dataBytes, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    std::wstring name(nameChars + 1, L'\0');
    std::vector<BYTE> data(dataBytes + 1);
    for (DWORD i = 0; i < values; ++i) {
        DWORD length = nameChars + 1, type = 0, size = dataBytes + 1;
        const LSTATUS status =
            calls_.RegEnumValueW(key, i, name.data(), &length, nullptr, &type, data.data(), &size);
        if (status == ERROR_NO_MORE_ITEMS) break;
        // ERROR_MORE_DATA too: someone else wrote in between.
        if (status != ERROR_SUCCESS) return false;
        listing.values.push_back(
            {name.substr(0, length), type, {data.begin(), data.begin() + size}});
        if (!Writable(listing.values.back().name)) return false;
    }
    name.assign(subkeyChars + 1, L'\0');
    for (DWORD i = 0; i < subkeys; ++i) {
        DWORD length = subkeyChars + 1;
        const LSTATUS status =
            calls_.RegEnumKeyExW(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) return false;
        listing.subkeys.push_back(name.substr(0, length));
        if (!Writable(listing.subkeys.back())) return false;
    }
    return true;
}

// A key created again gets what its parent passes on, and the owner of
// whoever creates it: the recorded descriptor is what makes it the same key.
bool RegistryUndo::ReadSecurity(HKEY key, std::vector<BYTE>& security) const {
    security.resize(256);
    for (;;) {
        auto size = static_cast<DWORD>(security.size());
        const LSTATUS status = calls_.RegGetKeySecurity(key, kSecurity, security.data(), &size);
        if (status == ERROR_SUCCESS) {
            security.resize(size);
            return true;
        }
        if (status != ERROR_INSUFFICIENT_BUFFER || size <= security.size()) return false;
        security.resize(size);
    }
}

bool RegistryUndo::ReadTree(HKEY key, REGSAM view, Tree& tree,
                            std::vector<OwnedKey>& opened) const {
    Listing listing;
    if (!ReadKey(key, listing) || !ReadSecurity(key, tree.security)) return false;
    tree.values = std::move(listing.values);
    for (std::wstring& name : listing.subkeys) {
        OwnedKey child;
        const LSTATUS status =
            calls_.RegOpenKeyExW(key, name.c_str(), 0, KEY_READ | view, child.put());
        if (Gone(status)) continue;
        if (status != ERROR_SUCCESS) return false;
        const HKEY read = child.get();
        opened.push_back(std::move(child));
        tree.children.emplace_back(std::move(name), Tree());
        if (!ReadTree(read, view, tree.children.back().second, opened)) return false;
    }
    return true;
}

bool RegistryUndo::ReadShape(HKEY key, REGSAM view, const Shape& shape, Tree& tree,
                             std::vector<OwnedKey>& opened) const {
    for (const wchar_t* name : shape.values) {
        // Room for what these values hold, so one round trip reads one.
        std::vector<BYTE> data(256);
        DWORD type = 0, size = static_cast<DWORD>(data.size());
        LSTATUS status = calls_.RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
        if (status == ERROR_MORE_DATA) {
            data.resize(size);
            status = calls_.RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
        }
        if (Gone(status)) continue;
        // ERROR_MORE_DATA again: someone else wrote in between.
        if (status != ERROR_SUCCESS) return false;
        data.resize(size);
        tree.values.push_back({name, type, std::move(data)});
    }
    for (const auto& [name, child] : shape.children) {
        OwnedKey sub;
        const LSTATUS status = calls_.RegOpenKeyExW(key, name, 0, KEY_READ | view, sub.put());
        if (Gone(status)) continue;
        if (status != ERROR_SUCCESS) return false;
        const HKEY read = sub.get();
        opened.push_back(std::move(sub));
        tree.children.emplace_back(name, Tree());
        if (!ReadShape(read, view, *child, tree.children.back().second, opened)) return false;
    }
    return true;
}

// One recorded key still to be read: where it is and where it goes. Each is
// read where its parent is already open, so the keys of a large library are
// read by a few threads at once: a registry round trip is mostly the caller's
// own time, which threads overlap.
struct RegistryUndo::Reading {
    HKEY parent;
    REGSAM view;
    Entry* entry;
};

// The readers' shared state: the next reading to take, and how it went.
struct RegistryUndo::Readers {
    Readers(const RegistryUndo* by, const std::vector<Reading>* all)
        : undo(by), readings(all), opened(all->size()) {
        ::InitializeCriticalSection(&lock);
    }
    Readers(const Readers&) = delete;
    Readers& operator=(const Readers&) = delete;
    ~Readers() { ::DeleteCriticalSection(&lock); }
    const RegistryUndo* undo;
    const std::vector<Reading>* readings;
    // Each reading's own list: no two threads touch the same one.
    Opened opened;
    volatile LONG next = -1;
    volatile LONG failed = 0;
    std::exception_ptr error;
    CRITICAL_SECTION lock;
};

DWORD WINAPI RegistryUndo::ReadSome(void* context) {
    auto& readers = *static_cast<Readers*>(context);
    for (;;) {
        const LONG i = ::InterlockedIncrement(&readers.next);
        if (i >= static_cast<LONG>(readers.readings->size()) || readers.failed) return 0;
        try {
            const auto at = static_cast<size_t>(i);
            if (!readers.undo->ReadEntry((*readers.readings)[at], readers.opened[at]))
                ::InterlockedExchange(&readers.failed, 1);
        } catch (...) {
            ::EnterCriticalSection(&readers.lock);
            if (!readers.error) readers.error = std::current_exception();
            ::LeaveCriticalSection(&readers.lock);
            ::InterlockedExchange(&readers.failed, 1);
        }
    }
}

namespace {

// Closing a key is a round trip of its own under Wine, and a large record
// opens thousands: they stay open until the next record, or until the end of
// the process closes them all at once. Never destroyed, so that the end of
// the process does not close them one by one.
struct LeftOpen {
    SRWLOCK lock = SRWLOCK_INIT;
    std::vector<std::vector<OwnedKey>> keys;
};

LeftOpen& KeysLeftOpen() {
    static auto* left = new LeftOpen;
    return *left;
}

void CloseKeysLeftOpen() {
    LeftOpen& left = KeysLeftOpen();
    std::vector<std::vector<OwnedKey>> closing;
    ::AcquireSRWLockExclusive(&left.lock);
    closing.swap(left.keys);
    ::ReleaseSRWLockExclusive(&left.lock);
}

void LeaveOpen(std::vector<std::vector<OwnedKey>>& keys) {
    LeftOpen& left = KeysLeftOpen();
    ::AcquireSRWLockExclusive(&left.lock);
    if (left.keys.empty()) left.keys.swap(keys);
    ::ReleaseSRWLockExclusive(&left.lock);
}

// The helper threads of one read, joined before the state they read on the
// reader's stack goes, however the read ends. Their handles live in place:
// nothing is allocated once one runs.
template <int Count> struct Helpers {
    Helpers() = default;
    Helpers(const Helpers&) = delete;
    Helpers& operator=(const Helpers&) = delete;
    ~Helpers() { Join(); }
    void Join() noexcept {
        for (OwnedHandle& thread : threads) {
            if (thread) ::WaitForSingleObject(thread.get(), INFINITE);
            thread.reset();
        }
    }
    OwnedHandle threads[Count];
};

} // namespace

bool RegistryUndo::ReadEntries(const std::vector<Reading>& readings) const {
    Readers readers(this, &readings);
    Helpers<kReadingThreads - 1> helpers;
    if (readings.size() >= kReadInParallelFrom)
        // Fewer threads only make it slower.
        for (OwnedHandle& thread : helpers.threads)
            thread.reset(::CreateThread(nullptr, 0, ReadSome, &readers, 0, nullptr));
    ReadSome(&readers);
    helpers.Join();
    if (readers.error) std::rethrow_exception(readers.error);
    if (readings.size() >= kReadInParallelFrom) LeaveOpen(readers.opened);
    return !readers.failed;
}

bool RegistryUndo::ReadEntry(const Reading& reading, std::vector<OwnedKey>& opened) const {
    Entry& entry = *reading.entry;
    OwnedKey key;
    const LSTATUS status = calls_.RegOpenKeyExW(reading.parent, entry.name.c_str(), 0,
                                                KEY_READ | reading.view, key.put());
    if (Gone(status)) return true;
    if (status != ERROR_SUCCESS) return false;
    entry.present = true;
    const HKEY read = key.get();
    opened.push_back(std::move(key));
    return entry.shape ? ReadShape(read, reading.view, *entry.shape, entry.tree, opened)
                       : ReadTree(read, reading.view, entry.tree, opened);
}

bool RegistryUndo::Record(const std::vector<RegistryRoot>& roots,
                          const std::vector<Watched>& keys) {
    CloseKeysLeftOpen();
    groups_.clear();
    failure_ = ERROR_SUCCESS;
    const auto byParent = ByParent(keys);
    // Every group first, so that the entries stay where the readers write.
    std::vector<OwnedKey> parents;
    std::vector<std::pair<size_t, std::vector<std::wstring>>> lists; // few subkeys, by group
    for (const RegistryRoot& root : roots) {
        // Opening through a view's redirection costs several times a plain
        // open under Wine: the classes root is opened once per view, and
        // everything below it relative to that.
        OwnedKey classes;
        const LSTATUS rooted =
            calls_.RegOpenKeyExW(root.hive, root.path, 0, KEY_READ | root.view, classes.put());
        if (!Gone(rooted) && rooted != ERROR_SUCCESS) return Forget(rooted);
        for (const auto& [parentPath, names] : byParent) {
            Group group;
            group.hive = root.hive;
            group.path = Join(root.path, parentPath);
            group.view = root.view;
            // An absent parent means every child is absent.
            OwnedKey parent;
            LSTATUS status = rooted;
            if (classes)
                status = calls_.RegOpenKeyExW(classes.get(), parentPath.c_str(), 0,
                                              KEY_READ | root.view, parent.put());
            if (!Gone(status) && status != ERROR_SUCCESS) return Forget(status);
            group.present = status == ERROR_SUCCESS;
            for (const auto& [name, shape] : names) {
                Entry entry;
                entry.name = name;
                entry.shape = shape;
                group.entries.push_back(std::move(entry));
            }
            // An absent key costs one failed open, or nothing where the
            // parent's few subkeys say so.
            if (group.present) {
                std::vector<std::wstring> listed;
                bool few = false;
                if (!FewSubkeys(calls_, parent.get(), names.size(), listed, few)) return Forget();
                if (few) lists.emplace_back(groups_.size(), std::move(listed));
            }
            parents.push_back(std::move(parent));
            groups_.push_back(std::move(group));
        }
    }
    std::vector<Reading> readings;
    for (size_t g = 0; g < groups_.size(); ++g) {
        Group& group = groups_[g];
        if (!group.present) continue;
        const std::vector<std::wstring>* listed = nullptr;
        for (const auto& [index, names] : lists)
            if (index == g) listed = &names;
        for (Entry& entry : group.entries)
            if (!listed || Listed(*listed, entry.name))
                readings.push_back({parents[g].get(), group.view, &entry});
    }
    if (!ReadEntries(readings)) return Forget();
    return true;
}

bool RegistryUndo::Forget(LSTATUS why) {
    failure_ = why;
    groups_.clear();
    return false;
}

} // namespace vandrel
