// Records registry keys before the platform writes them and puts them back
// when it fails: the platform writes key after key and stops at the first
// error, leaving half a registration behind.
#pragma once

#include "common/Owned.h"
#include "registrar/RegistrarPlatform.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace vandrel {

// A place the platform writes: a hive, the path of a classes root in it (never
// empty), and the registry view (KEY_WOW64_64KEY or KEY_WOW64_32KEY). A mode
// that redirects the platform's classes root passes its own.
struct RegistryRoot {
    HKEY hive;
    const wchar_t* path;
    REGSAM view;
};

// The machine's own classes, HKLM\Software\Classes, in both views.
std::vector<RegistryRoot> LocalMachineClassesRoots();
// Where registering for the machine can write: HKEY_CLASSES_ROOT merges the
// machine's and the user's classes (Windows writes to the user's where a key
// exists there), and a 32-bit and a 64-bit process alike write Interface keys
// in both views. TypeLib is shared between the views; recording it twice costs
// one open.
std::vector<RegistryRoot> MachineClassesRoots();
// Where registering for the current user writes: the user's classes, to which
// HKEY_CLASSES_ROOT is redirected around the call.
std::vector<RegistryRoot> UserClassesRoots();

class RegistryUndo {
public:
    explicit RegistryUndo(const RegistrarPlatform& calls) : calls_(calls) {}
    RegistryUndo(const RegistryUndo&) = delete;
    RegistryUndo& operator=(const RegistryUndo&) = delete;

    // The part of a key a call may write, where it writes only there and
    // removes nothing: these values of the key, and these subkeys with the
    // parts of them it writes. A key recorded by its shape keeps whatever
    // else it holds untouched, so only the shape is read and put back.
    struct Shape {
        std::vector<const wchar_t*> values;
        std::vector<std::pair<const wchar_t*, const Shape*>> children;
    };
    // A key to record: "TypeLib\{guid}", "Interface\{iid}" (a parent and one
    // name under it), whole (its subtree, with each key's security
    // descriptor) or by its shape.
    struct Watched {
        Watched(std::wstring name, const Shape* part = nullptr)
            : key(std::move(name)), shape(part) {}
        Watched(const wchar_t* name, const Shape* part = nullptr)
            : Watched(std::wstring(name), part) {}
        std::wstring key;
        const Shape* shape;
    };

    // Records each key in every root: absent, or as watched. False when any
    // of them could not be read, or could not be written back as it is (a key
    // or value name with a NUL in it, which the Win32 calls end at); nothing
    // is recorded then.
    bool Record(const std::vector<RegistryRoot>& roots, const std::vector<Watched>& keys);
    // Why the last record failed: the registry's status where one call
    // said so, else that the registry could not be read whole.
    LSTATUS failure() const { return failure_; }

    // Puts every recorded key back as it was: what was added is removed, what
    // was changed or removed is written again, a key that must be created
    // again with its recorded security descriptor. Goes on past a call that
    // fails and then reports false.
    //
    // A key's volatility cannot be read without writing (Wine 8 answers no
    // query for it), so it is not recorded: a key created again is persistent
    // unless its parent is volatile, where the registry allows volatile keys
    // only. A volatile key whose persistent parent lost it comes back
    // persistent.
    bool Restore() noexcept;

    // Whether another record of the same keys found them as this one did.
    bool operator==(const RegistryUndo& other) const { return groups_ == other.groups_; }

    struct Value {
        std::wstring name;
        DWORD type;
        std::vector<BYTE> data;
        bool operator==(const Value&) const = default;
    };
    struct Tree {
        std::vector<Value> values;
        std::vector<std::pair<std::wstring, Tree>> children;
        // Self-relative: owner, group, DACL and integrity label.
        std::vector<BYTE> security;
        bool operator==(const Tree&) const = default;
    };

private:
    // One parent key (such as HKLM\Software\Classes\Interface in one view) and
    // the recorded keys under it.
    struct Entry {
        std::wstring name;
        const Shape* shape = nullptr;
        bool present = false;
        Tree tree;
        bool operator==(const Entry&) const = default;
    };
    struct Group {
        HKEY hive;
        std::wstring path;
        REGSAM view;
        bool present = false;
        std::vector<Entry> entries;
        bool operator==(const Group&) const = default;
    };

    // One key's values and the names of its subkeys, in the registry's order.
    struct Listing {
        std::vector<Value> values;
        std::vector<std::wstring> subkeys;
    };

    bool ReadKey(HKEY key, Listing& listing) const;
    bool ReadSecurity(HKEY key, std::vector<BYTE>& security) const;
    // The keys a read opened, one list per recorded key.
    using Opened = std::vector<std::vector<OwnedKey>>;
    bool ReadTree(HKEY key, REGSAM view, Tree& tree, std::vector<OwnedKey>& opened) const;
    struct Reading;
    struct Readers;
    static DWORD WINAPI ReadSome(void* readers);
    bool ReadEntries(const std::vector<Reading>& readings) const;
    bool ReadEntry(const Reading& reading, std::vector<OwnedKey>& opened) const;
    // Past this many keys a few threads read them at once, and the keys they
    // opened stay open until the next record or the process's end.
    static constexpr size_t kReadInParallelFrom = 64;
    static constexpr int kReadingThreads = 4;
    bool ReadShape(HKEY key, REGSAM view, const Shape& shape, Tree& tree,
                   std::vector<OwnedKey>& opened) const;
    bool RestoreShape(HKEY key, REGSAM view, const Shape& shape, const Tree& tree) const;
    bool Forget(LSTATUS why = ERROR_REGISTRY_IO_FAILED);
    bool CreateKey(HKEY parent, const std::wstring& name, REGSAM view,
                   const std::vector<BYTE>& security, HKEY* key) const;
    bool RestoreGroup(const Group& group) const;
    bool RestoreTree(HKEY key, REGSAM view, const Tree& tree) const;

    static constexpr REGSAM kWrite = KEY_READ | KEY_WRITE | DELETE;
    // All of a key's descriptor that READ_CONTROL may read; setting it back
    // takes WRITE_DAC and WRITE_OWNER.
    static constexpr SECURITY_INFORMATION kSecurity =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
        LABEL_SECURITY_INFORMATION;
    static bool Gone(LSTATUS status) { return status == ERROR_FILE_NOT_FOUND; }

    const RegistrarPlatform& calls_;
    std::vector<Group> groups_;
    LSTATUS failure_ = ERROR_SUCCESS;
};

} // namespace vandrel
