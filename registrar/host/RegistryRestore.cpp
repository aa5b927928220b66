// Putting recorded keys back: each group's keys as they were, deleted where
// there were none, and every failure on the way counted, never hidden.
#include "registrar/host/RegistryUndo.h"

#include "common/Owned.h"

namespace vandrel {

bool RegistryUndo::Restore() noexcept {
    bool restored = true;
    for (const Group& group : groups_) {
        try {
            if (!RestoreGroup(group)) restored = false;
        } catch (...) {
            // Out of memory: the other groups may still be put back.
            restored = false;
        }
    }
    return restored;
}

bool RegistryUndo::RestoreGroup(const Group& group) const {
    OwnedKey parent;
    if (!group.present) {
        // The parent itself was absent: remove what was written under it, and
        // the parent too once nothing else is left in it.
        const LSTATUS status = calls_.RegOpenKeyExW(group.hive, group.path.c_str(), 0,
                                                    kWrite | group.view, parent.put());
        if (Gone(status)) return true;
        if (status != ERROR_SUCCESS) return false;
        bool restored = true;
        for (const Entry& entry : group.entries) {
            const LSTATUS deleted = calls_.RegDeleteTreeW(parent.get(), entry.name.c_str());
            if (deleted != ERROR_SUCCESS && !Gone(deleted)) restored = false;
        }
        Listing left;
        if (!ReadKey(parent.get(), left)) return false;
        parent.reset();
        if (left.values.empty() && left.subkeys.empty() &&
            calls_.RegDeleteKeyExW(group.hive, group.path.c_str(), group.view, 0) != ERROR_SUCCESS)
            restored = false;
        return restored;
    }

    if (!CreateKey(group.hive, group.path, group.view, {}, parent.put())) return false;
    bool restored = true;
    for (const Entry& entry : group.entries) {
        if (!entry.present) {
            const LSTATUS deleted = calls_.RegDeleteTreeW(parent.get(), entry.name.c_str());
            if (deleted != ERROR_SUCCESS && !Gone(deleted)) restored = false;
            continue;
        }
        OwnedKey key;
        if (!CreateKey(parent.get(), entry.name, group.view, entry.tree.security, key.put()) ||
            !(entry.shape ? RestoreShape(key.get(), group.view, *entry.shape, entry.tree)
                          : RestoreTree(key.get(), group.view, entry.tree)))
            restored = false;
    }
    return restored;
}

// Only what the shape names: values and subkeys written back, or removed
// where they were absent.
bool RegistryUndo::RestoreShape(HKEY key, REGSAM view, const Shape& shape, const Tree& tree) const {
    bool restored = true;
    for (const wchar_t* name : shape.values) {
        const Value* recorded = nullptr;
        for (const Value& value : tree.values)
            if (value.name == name) recorded = &value;
        const LSTATUS status =
            recorded ? calls_.RegSetValueExW(key, name, 0, recorded->type, recorded->data.data(),
                                             static_cast<DWORD>(recorded->data.size()))
                     : calls_.RegDeleteValueW(key, name);
        if (status != ERROR_SUCCESS && !Gone(status)) restored = false;
    }
    for (const auto& [name, child] : shape.children) {
        const Tree* recorded = nullptr;
        for (const auto& [childName, childTree] : tree.children)
            if (childName == name) recorded = &childTree;
        if (!recorded) {
            const LSTATUS deleted = calls_.RegDeleteTreeW(key, name);
            if (deleted != ERROR_SUCCESS && !Gone(deleted)) restored = false;
            continue;
        }
        OwnedKey sub;
        if (!CreateKey(key, name, view, {}, sub.put()) ||
            !RestoreShape(sub.get(), view, *child, *recorded))
            restored = false;
    }
    return restored;
}

bool RegistryUndo::RestoreTree(HKEY key, REGSAM view, const Tree& tree) const {
    bool restored = true;
    Listing now;
    // Without a listing nothing is removed, but every recorded value and key
    // is still written.
    if (!ReadKey(key, now)) {
        restored = false;
        now = Listing();
    }
    if (now.values != tree.values) {
        // Written again in full, so that their order is the recorded one too.
        for (const Value& value : now.values)
            if (calls_.RegDeleteValueW(key, value.name.c_str()) != ERROR_SUCCESS) restored = false;
        for (const Value& value : tree.values)
            if (calls_.RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                                      static_cast<DWORD>(value.data.size())) != ERROR_SUCCESS)
                restored = false;
    }
    for (const std::wstring& name : now.subkeys) {
        // Compared by case as well: a key written again with another case is
        // not the recorded one.
        bool recorded = false;
        for (const auto& child : tree.children)
            recorded = recorded || child.first == name;
        if (!recorded && calls_.RegDeleteTreeW(key, name.c_str()) != ERROR_SUCCESS)
            restored = false;
    }
    for (const auto& [name, child] : tree.children) {
        OwnedKey sub;
        if (!CreateKey(key, name, view, child.security, sub.put()) ||
            !RestoreTree(sub.get(), view, child))
            restored = false;
    }
    return restored;
}

// Opens the key, or creates it and gives it the recorded descriptor (an
// existing key keeps its own). Only a volatile key may hold volatile keys,
// and the registry says so only when asked for a persistent one.
bool RegistryUndo::CreateKey(HKEY parent, const std::wstring& name, REGSAM view,
                             const std::vector<BYTE>& security, HKEY* key) const {
    DWORD made = 0;
    LSTATUS status =
        calls_.RegCreateKeyExW(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               kWrite | view, nullptr, key, &made);
    if (status == ERROR_CHILD_MUST_BE_VOLATILE)
        status = calls_.RegCreateKeyExW(parent, name.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                        kWrite | view, nullptr, key, &made);
    if (status != ERROR_SUCCESS) return false;
    if (made != REG_CREATED_NEW_KEY || security.empty()) return true;
    // Wine 8 drops a descriptor handed to the creating call. Owner and label
    // need WRITE_OWNER, asked for on the new key only.
    OwnedKey owned;
    return calls_.RegOpenKeyExW(*key, L"", 0, WRITE_DAC | WRITE_OWNER | view, owned.put()) ==
               ERROR_SUCCESS &&
           calls_.RegSetKeySecurity(owned.get(), kSecurity, const_cast<BYTE*>(security.data())) ==
               ERROR_SUCCESS;
}

} // namespace vandrel
