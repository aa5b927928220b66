// Registering for the current user: HKEY_CLASSES_ROOT redirected to the
// user's own classes key around the platform's registration call.
#pragma once

#include "registrar/RegistrarPlatform.h"
#include "registrar/RegistrarResult.h"

namespace vandrel {

// HKEY_CLASSES_ROOT as the current user's classes key, for one scope. The
// platform's RegisterTypeLibForUser is not used: Wine's registers for the
// whole machine.
class UserClasses {
public:
    explicit UserClasses(const RegistrarPlatform& platform) : platform_(platform) {
        LONG error = platform.RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr,
                                              0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
        if (error != ERROR_SUCCESS) {
            key_ = nullptr;
            status_ = HRESULT_FROM_WIN32(error);
            return;
        }
        platform.OaEnablePerUserTLibRegistration();
        error = platform.RegOverridePredefKey(HKEY_CLASSES_ROOT, key_);
        if (error != ERROR_SUCCESS) {
            status_ = HRESULT_FROM_WIN32(error);
            return;
        }
        overridden_ = true;
        status_ = S_OK;
    }
    UserClasses(const UserClasses&) = delete;
    UserClasses& operator=(const UserClasses&) = delete;
    ~UserClasses() {
        if (overridden_) platform_.RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        if (key_) platform_.RegCloseKey(key_);
    }
    HRESULT status() const { return status_; }

private:
    const RegistrarPlatform& platform_;
    HKEY key_ = nullptr;
    bool overridden_ = false;
    HRESULT status_ = E_FAIL;
};

// One registration call of the platform in the given scope. Only the call
// itself is redirected: loading a library may look up the libraries it
// imports (stdole2) in the machine's classes. When the redirection cannot be
// made the call is not made either: it would write for the whole machine.
template <typename Call>
HRESULT InScope(const RegistrarPlatform& platform, Scope scope, Call call) {
    if (scope == Scope::Machine) return call();
    UserClasses classes(platform);
    if (classes.status() != S_OK) return classes.status();
    return call();
}

} // namespace vandrel
