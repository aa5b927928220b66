// What a command would change, worked out on a copy of the keys it touches:
// the registry is read into small trees, the command's writes or removals
// are made on a copy of them, and the two are compared. Removals follow the
// rules of the call the command would make: the platform's for a path and a
// registration whose file is there, Vandrel's own where the file is gone.
#include "registrar/ModVandrel.h"

#include "common/Owned.h"
#include "registrar/host/LoadablePath.h"
#include "registrar/host/RegistrationEntries.h"
#include "registrar/host/Worker.h"
#include "registrar/registry/IdentityRemoval.h"
#include "registrar/registry/KeyNames.h"
#include "registrar/registry/RegisteredFile.h"
#include "registrar/registry/RegistryValue.h"

#include <utility>

namespace vandrel {
namespace {

bool Same(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// A key as read: its string values and its subkeys. Values of other types
// are never written by registration and are kept as names only.
struct Node {
    std::vector<std::pair<std::wstring, std::wstring>> values;
    std::vector<std::pair<std::wstring, Node>> children;

    Node* Child(const std::wstring& name) {
        for (auto& [have, node] : children)
            if (Same(have, name)) return &node;
        return nullptr;
    }
    Node& Make(const std::wstring& name) {
        if (Node* found = Child(name)) return *found;
        children.emplace_back(name, Node{});
        return children.back().second;
    }
    // RegDeleteKey's rule: a key with subkeys stays.
    bool Delete(const std::wstring& name) {
        for (auto it = children.begin(); it != children.end(); ++it)
            if (Same(it->first, name)) {
                if (!it->second.children.empty()) return false;
                children.erase(it);
                return true;
            }
        return false;
    }
};

void ReadNode(const RegistrarPlatform& registry, HKEY key, Node& node, int depth) {
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (registry.RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        const std::wstring valueName(name, length);
        node.values.emplace_back(valueName,
                                 ReadText(registry, key, valueName.c_str()).value_or(L"\x1"));
    }
    if (depth > 8) return;
    for (const std::wstring& subName : Subkeys(registry, key)) {
        OwnedKey sub;
        if (registry.RegOpenKeyExW(key, subName.c_str(), 0, KEY_READ, sub.put()) == ERROR_SUCCESS)
            ReadNode(registry, sub.get(), node.Make(subName), depth + 1);
    }
}

// The keys a command touches, one tree per view, each rooted at the
// scope's classes: only the subtrees asked for are read into them.
class Keys {
public:
    explicit Keys(Scope scope) : scope_(scope) {}

    // The key at `path` (relative to the classes root) in the named view,
    // read from the registry on first use; null where there is none.
    Node* Find(REGSAM view, const std::wstring& path) {
        Node& root = Root(view);
        Node* node = &root;
        for (const std::wstring& part : Parts(path))
            if (!(node = node->Child(part))) return nullptr;
        return node;
    }
    Node& Root(REGSAM view) {
        for (auto& [have, root] : roots_)
            if (have == view) return root;
        roots_.emplace_back(view, Node{});
        return roots_.back().second;
    }
    // Reads one key and its subtree into the view's tree.
    void Read(REGSAM view, const std::wstring& path) {
        const RegistrarPlatform& registry = *RegistrarSeam();
        OwnedKey classes, key;
        if (OpenClasses(registry, scope_, CallView(view), classes.put(), KEY_READ) !=
                ERROR_SUCCESS ||
            registry.RegOpenKeyExW(classes.get(), path.c_str(), 0, KEY_READ | CallView(view),
                                   key.put()) != ERROR_SUCCESS)
            return;
        Node* node = &Root(view);
        for (const std::wstring& part : Parts(path))
            node = &node->Make(part);
        ReadNode(registry, key.get(), *node, 0);
    }
    static std::vector<std::wstring> Parts(const std::wstring& path) {
        std::vector<std::wstring> parts;
        size_t from = 0;
        for (size_t at; (at = path.find(L'\\', from)) != std::wstring::npos; from = at + 1)
            parts.push_back(path.substr(from, at - from));
        parts.push_back(path.substr(from));
        return parts;
    }
    std::vector<std::pair<REGSAM, Node>> roots_;

private:
    Scope scope_;
};

void Removed(const Node& node, REGSAM view, const std::wstring& path, wchar_t kind,
             std::vector<RegistryChange>& changes) {
    changes.push_back({kind, true, {view, path, L"", L"", false}});
    for (const auto& [name, data] : node.values)
        changes.push_back({kind, false, {view, path, name, data, false}});
    for (const auto& [name, child] : node.children)
        Removed(child, view, path + L"\\" + name, kind, changes);
}

// Every key and value the two trees differ in: what `after` adds, changes
// and removes. The roots' first two levels (TypeLib, Interface) are
// containers the command never adds or removes.
void Compare(const Node& before, const Node& after, REGSAM view, const std::wstring& path,
             std::vector<RegistryChange>& changes) {
    for (const auto& [name, data] : after.values) {
        bool found = false;
        for (const auto& [had, was] : before.values)
            if (Same(had, name)) {
                found = true;
                if (was != data) changes.push_back({L'~', false, {view, path, name, data, false}});
            }
        if (!found) changes.push_back({L'+', false, {view, path, name, data, false}});
    }
    for (const auto& [had, was] : before.values) {
        bool kept = false;
        for (const auto& [name, data] : after.values)
            kept = kept || Same(had, name);
        if (!kept) changes.push_back({L'-', false, {view, path, had, was, false}});
    }
    const auto under = [&](const std::wstring& name) {
        return path.empty() ? name : path + L"\\" + name;
    };
    for (const auto& [name, child] : after.children) {
        const Node* old = nullptr;
        for (const auto& [had, node] : before.children)
            if (Same(had, name)) old = &node;
        if (old)
            Compare(*old, child, view, under(name), changes);
        else
            Removed(child, view, under(name), L'+', changes);
    }
    for (const auto& [had, node] : before.children) {
        bool kept = false;
        for (const auto& [name, child] : after.children)
            kept = kept || Same(had, name);
        if (!kept) Removed(node, view, under(had), L'-', changes);
    }
}

void CompareAll(const Keys& before, const Keys& after, std::vector<RegistryChange>& changes) {
    changes.clear();
    for (size_t i = 0; i < after.roots_.size(); ++i)
        Compare(before.roots_[i].second, after.roots_[i].second, after.roots_[i].first, L"",
                changes);
}

// The platform's removal of an Interface key (and Vandrel's, which follows
// it): its three subkeys, then the key, each only where it holds no subkeys.
void RemoveInterfaceKey(Keys& keys, REGSAM view, const IID& iid) {
    Node* container = keys.Find(view, L"Interface");
    Node* key = keys.Find(view, InterfaceKeyName(iid));
    if (!container || !key) return;
    for (const wchar_t* sub : {L"ProxyStubClsid", L"ProxyStubClsid32", L"TypeLib"})
        key->Delete(sub);
    container->Delete(GuidKeyName(iid));
}

// The leaf, its locale once empty, and FLAGS, HELPDIR, the version and the
// library once nothing else is left in them.
void RemoveLibraryKeys(Keys& keys, const LibraryId& id) {
    Node* library = keys.Find(0, TypeLibKeyName(id.guid));
    Node* version = keys.Find(0, VersionKeyName(id));
    if (!library || !version) return;
    const std::wstring locale = HexName(id.lcid);
    if (Node* localeKey = version->Child(locale)) {
        localeKey->Delete(PlatformKeyName(id.syskind));
        version->Delete(locale);
    }
    for (const auto& [name, child] : version->children)
        if (!Same(name, L"FLAGS") && !Same(name, L"HELPDIR")) return;
    version->Delete(L"FLAGS");
    version->Delete(L"HELPDIR");
    library->Delete(VersionName(id.major, id.minor));
    keys.Find(0, L"TypeLib")->Delete(GuidKeyName(id.guid));
}

void ReadLibraryKeys(Keys& keys, const LibraryId& id, const std::vector<IID>& interfaces) {
    keys.Read(0, TypeLibKeyName(id.guid));
    for (REGSAM view : InterfaceViews())
        for (const IID& iid : interfaces)
            keys.Read(NamedView(view), InterfaceKeyName(iid));
    // The containers, so that every view has one to remove from.
    keys.Root(0).Make(L"TypeLib");
    for (REGSAM view : InterfaceViews())
        keys.Root(NamedView(view)).Make(L"Interface");
}

// The interfaces of a file as its load reports them.
RegistrarResult Interfaces(WorkerClient& worker, const std::wstring& path,
                           worker::LibraryReport& report) {
    const Resolved file = Resolve(path);
    if (file.failure != Failure::None) return {kFalse, file.failure, file.status};
    return worker.Load(file.path, file.fileBytes, PlatformCall::Unregister, report);
}

// The platform's unregistration of `id`, whose registered file has these
// interfaces; or Vandrel's own of a registration whose file is gone.
RegistrarResult Unregister(const LibraryId& id, const std::vector<ViewInterfaces>& views,
                           const std::vector<IID>& all, Scope scope,
                           std::vector<RegistryChange>& changes) {
    Keys before(scope);
    ReadLibraryKeys(before, id, all);
    Keys after = before;
    for (const ViewInterfaces& view : views)
        for (const IID& iid : view.iids)
            RemoveInterfaceKey(after, NamedView(view.view), iid);
    RemoveLibraryKeys(after, id);
    CompareAll(before, after, changes);
    return kTrue;
}

std::vector<ViewInterfaces> InEveryView(const std::vector<IID>& iids) {
    std::vector<ViewInterfaces> views;
    for (REGSAM view : InterfaceViews())
        views.push_back({view, iids});
    return views;
}

// As UnregisterIdentity in ModVandrel.cpp: the file registered for the
// identity is the one whose interfaces go; by path (`given`) the platform
// is asked whatever it finds, by identity only the exact registration goes.
RegistrarResult PredictRemoval(const LibraryId& id, const worker::LibraryReport* given,
                               const std::wstring* givenPath, Scope scope,
                               std::vector<RegistryChange>& changes) {
    const RegistrarPlatform& registry = *RegistrarSeam();
    DWORD type = REG_SZ;
    const auto registered = given ? RegisteredFile(registry, id, scope)
                                  : ExactlyRegisteredText(registry, id, scope, type);
    if (!registered) return {kFalse, Failure::NotRegistered, TYPE_E_LIBNOTREGISTERED};
    if (type != REG_SZ) return {kFalse, Failure::NoFile, HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME)};
    const Resolved file = Resolve(*registered);
    if (given && !Gone(file) && SameFile(file.path, *givenPath))
        return Unregister(id, InEveryView(given->interfaces), given->interfaces, scope, changes);
    if (Gone(file)) {
        // The platform cannot load what is gone; Vandrel removes an exact
        // registration all the same.
        if (given) return {kFalse, Failure::Platform, TYPE_E_INVALIDSTATE};
        const std::vector<ViewInterfaces> views = InterfacesToRemove(registry, id, scope);
        return Unregister(id, views, AllInterfaces(views), scope, changes);
    }
    WorkerClient worker;
    worker::LibraryReport report;
    if (RegistrarResult read = Interfaces(worker, *registered, report); read.flag != kTrue)
        return read;
    return Unregister(id, InEveryView(report.interfaces), report.interfaces, scope, changes);
}

} // namespace

RegistrarResult PredictRegistration(const std::wstring& path, Scope scope,
                                    std::vector<RegistryChange>& changes) {
    LibraryId id;
    std::vector<RegistryEntry> entries;
    if (RegistrarResult read = RegistrationEntriesOf(path, nullptr, id, entries);
        read.flag != kTrue)
        return read;
    std::vector<IID> interfaces;
    for (const RegistryEntry& entry : entries) {
        IID iid;
        if (entry.view && ParseGuid(Keys::Parts(entry.key)[1], iid)) interfaces.push_back(iid);
    }
    Keys before(scope);
    ReadLibraryKeys(before, id, interfaces);
    Keys after = before;
    for (const RegistryEntry& entry : entries) {
        Node* node = &after.Root(entry.view);
        for (const std::wstring& part : Keys::Parts(entry.key))
            node = &node->Make(part);
        bool set = false;
        for (auto& [name, data] : node->values)
            if (Same(name, entry.name)) {
                data = entry.data;
                set = true;
            }
        if (!set) node->values.emplace_back(entry.name, entry.data);
    }
    CompareAll(before, after, changes);
    return kTrue;
}

RegistrarResult PredictUnregistration(const std::wstring& path, Scope scope,
                                      std::vector<RegistryChange>& changes) {
    WorkerClient worker;
    worker::LibraryReport given;
    if (RegistrarResult read = Interfaces(worker, path, given); read.flag != kTrue) return read;
    const std::wstring full = Resolve(path).path;
    return PredictRemoval(given.id, &given, &full, scope, changes);
}

RegistrarResult PredictIdentityRemoval(const LibraryId& id, Scope scope,
                                       std::vector<RegistryChange>& changes) {
    return PredictRemoval(id, nullptr, nullptr, scope, changes);
}

} // namespace vandrel
