// The registration turn against a platform whose objects are numbers: each
// call goes to a log, and what is taken must all come back, last first.
#include "registrar/host/RegistrationTurn.h"

#include <string>

#include <gtest/gtest.h>
#include <sddl.h>

#include "support/ScopedSeam.h"

namespace vandrel {
namespace {

using namespace std::string_literals;

// How the fake platform answers, and what it was asked.
struct World {
    DWORD boundaryError = ERROR_SUCCESS;
    DWORD createSpaceError = ERROR_SUCCESS;
    DWORD mutexError = ERROR_SUCCESS; // creating and opening alike
    DWORD wait = WAIT_OBJECT_0;
    bool writesMachine = false;
    std::wstring log{};
    int made = 0;
    DWORD lastError = ERROR_SUCCESS;
};
World* g_world = nullptr;

std::wstring Number(HANDLE object) {
    return std::to_wstring(reinterpret_cast<INT_PTR>(object));
}
void Log(const std::wstring& entry) {
    g_world->log += entry + L"; ";
}
// "=n" for the object made, "!error" for a failure.
HANDLE Made(const std::wstring& entry, DWORD error) {
    g_world->lastError = error;
    if (error) {
        Log(entry + L" !" + std::to_wstring(error));
        return nullptr;
    }
    const auto made = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(++g_world->made));
    Log(entry + L" =" + Number(made));
    return made;
}

HANDLE WINAPI CreateBoundary(const wchar_t* name, ULONG) {
    return Made(L"boundary "s + name, g_world->boundaryError);
}
BOOL WINAPI AddSid(HANDLE* boundary, PSID sid) {
    wchar_t* text = nullptr;
    ::ConvertSidToStringSidW(sid, &text);
    Log(L"sid "s + text + L" >" + Number(*boundary));
    ::LocalFree(text);
    return TRUE;
}
HANDLE WINAPI CreateSpace(SECURITY_ATTRIBUTES* security, void* boundary, const wchar_t* alias) {
    wchar_t* dacl = nullptr;
    ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
        security->lpSecurityDescriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &dacl, nullptr);
    const std::wstring entry =
        L"create namespace "s + alias + L" " + dacl + L" in " + Number(boundary);
    ::LocalFree(dacl);
    return Made(entry, g_world->createSpaceError);
}
HANDLE WINAPI OpenSpace(void* boundary, const wchar_t* alias) {
    return Made(L"open namespace "s + alias + L" in " + Number(boundary), ERROR_SUCCESS);
}
HANDLE WINAPI CreateMutexFake(SECURITY_ATTRIBUTES*, const wchar_t* name, DWORD, DWORD) {
    return Made(L"create mutex "s + name, g_world->mutexError);
}
HANDLE WINAPI OpenMutexFake(DWORD, BOOL, const wchar_t* name) {
    return Made(L"open mutex "s + name, g_world->mutexError);
}
DWORD WINAPI WaitFake(HANDLE mutex, DWORD milliseconds) {
    Log(L"wait " + Number(mutex) + L" for " + std::to_wstring(milliseconds));
    return g_world->wait;
}

void WINAPI DeleteBoundary(HANDLE boundary) {
    Log(L"delete " + Number(boundary));
}
BOOLEAN WINAPI CloseSpace(HANDLE space, ULONG flags) {
    Log(L"close namespace " + Number(space) + (flags ? L" destroying" : L""));
    return TRUE;
}
BOOL WINAPI ReleaseFake(HANDLE mutex) {
    Log(L"release " + Number(mutex));
    return TRUE;
}
BOOL WINAPI CloseFake(HANDLE object) {
    Log(L"close " + Number(object));
    return TRUE;
}
DWORD WINAPI LastErrorFake() {
    return g_world->lastError;
}

const TurnPlatform kFake = {
    .CreateBoundaryDescriptorW = CreateBoundary,
    .AddSIDToBoundaryDescriptor = AddSid,
    .DeleteBoundaryDescriptor = DeleteBoundary,
    .CreatePrivateNamespaceW = CreateSpace,
    .OpenPrivateNamespaceW = OpenSpace,
    .ClosePrivateNamespace = CloseSpace,
    .CreateMutexExW = CreateMutexFake,
    .OpenMutexW = OpenMutexFake,
    .WaitForSingleObject = WaitFake,
    .ReleaseMutex = ReleaseFake,
    .CloseHandle = CloseFake,
    .GetLastError = LastErrorFake,
    .UserSid =
        [](std::wstring& sid) {
            sid = L"S-1-5-21-7-1001";
            return true;
        },
    .UserRegistrationWritesMachine = [] { return g_world->writesMachine; },
};

// One turn in a namespace: boundary 1, namespace 2 and mutex 3, or, after
// another turn, 4, 5 and 6.
std::wstring InNamespace(const wchar_t* boundary, const wchar_t* sid, const wchar_t* dacl,
                         int first = 1) {
    const auto n = [first](int i) { return std::to_wstring(first + i); };
    return L"boundary "s + boundary + L" =" + n(0) + L"; sid " + sid + L" >" + n(0) +
           L"; create namespace Vandrel D:P(A;;GA;;;" + dacl + L") in " + n(0) + L" =" + n(1) +
           L"; create mutex Vandrel\\TypeLibRegistration =" + n(2) + L"; wait " + n(2) +
           L" for 60000; ";
}
std::wstring GivenBack(int mutex) {
    const auto n = [mutex](int i) { return std::to_wstring(mutex - i); };
    return L"release " + n(0) + L"; close " + n(0) + L"; close namespace " + n(1) + L"; delete " +
           n(2) + L"; ";
}
const std::wstring kMachine = InNamespace(L"Vandrel.MachineTurn", L"S-1-5-32-544", L"BA");
const std::wstring kUser = L"S-1-5-21-7-1001";
const std::wstring kUserTurn = InNamespace(L"Vandrel.UserTurn", kUser.c_str(), kUser.c_str());
const std::wstring kTaking = L"boundary Vandrel.MachineTurn =1; sid S-1-5-32-544 >1; ";
const std::wstring kNoBoundary = L"boundary Vandrel.MachineTurn !120; ";
const std::wstring kGlobal = L"Global\\Vandrel.TypeLibRegistration";
const HRESULT kDenied = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);

// Before "|" what taking did, after it what the owner gave back when it went.
TEST(RegistrationTurn, TakesTheTurnsItsScopeNeedsAndGivesAllBackLastFirst) {
    struct Case {
        const char* name;
        Scope scope;
        World world;
        HRESULT status;
        Failure failure;
        std::wstring log;
    };
    const Case cases[] = {
        {"in the administrators' namespace",
         Scope::Machine,
         {},
         S_OK,
         Failure::None,
         kMachine + L"| " + GivenBack(3)},
        {"a namespace another process made",
         Scope::Machine,
         {.createSpaceError = ERROR_ALREADY_EXISTS},
         S_OK,
         Failure::None,
         kTaking +
             L"create namespace Vandrel D:P(A;;GA;;;BA) in 1 !183; open namespace Vandrel "
             L"in 1 =2; create mutex Vandrel\\TypeLibRegistration =3; wait 3 for 60000; | " +
             GivenBack(3)},
        {"refused the namespace: no fallback",
         Scope::Machine,
         {.createSpaceError = ERROR_ACCESS_DENIED},
         kDenied,
         Failure::NoRights,
         kTaking + L"create namespace Vandrel D:P(A;;GA;;;BA) in 1 !5; delete 1; | "},
        {"a wait that times out",
         Scope::Machine,
         {.wait = WAIT_TIMEOUT},
         HRESULT_FROM_WIN32(ERROR_TIMEOUT),
         Failure::Busy,
         kMachine + L"close 3; close namespace 2; delete 1; | "},
        {"an abandoned turn",
         Scope::Machine,
         {.wait = WAIT_ABANDONED},
         S_OK,
         Failure::None,
         kMachine + L"| " + GivenBack(3)},
        {"a boundary that fails otherwise",
         Scope::Machine,
         {.boundaryError = ERROR_NOT_ENOUGH_MEMORY},
         HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY),
         Failure::Busy,
         L"boundary Vandrel.MachineTurn !8; | "},
        {"no boundaries: the global mutex",
         Scope::Machine,
         {.boundaryError = ERROR_CALL_NOT_IMPLEMENTED},
         S_OK,
         Failure::None,
         kNoBoundary + L"create mutex " + kGlobal +
             L" =1; wait 1 for 60000; | release 1; close 1; "},
        {"a global name that refuses us",
         Scope::Machine,
         {.boundaryError = ERROR_CALL_NOT_IMPLEMENTED, .mutexError = ERROR_ACCESS_DENIED},
         kUntrustedTurn,
         Failure::Untrusted,
         kNoBoundary + L"create mutex " + kGlobal + L" !5; open mutex " + kGlobal + L" !5; | "},
        {"the user's own", Scope::User, {}, S_OK, Failure::None, kUserTurn + L"| " + GivenBack(3)},
        {"the user's, then the machine's",
         Scope::User,
         {.writesMachine = true},
         S_OK,
         Failure::None,
         kUserTurn + InNamespace(L"Vandrel.MachineTurn", L"S-1-5-32-544", L"BA", 4) + L"| " +
             GivenBack(6) + GivenBack(3)},
        {"the user's and the machine's global mutexes",
         Scope::User,
         {.boundaryError = ERROR_CALL_NOT_IMPLEMENTED, .writesMachine = true},
         S_OK,
         Failure::None,
         L"boundary Vandrel.UserTurn !120; create mutex " + kGlobal + L"." + kUser +
             L" =1; wait 1 for 60000; " + kNoBoundary + L"create mutex " + kGlobal +
             L" =2; wait 2 for 60000; | release 2; close 2; release 1; close 1; "},
    };
    for (const Case& c : cases) {
        World world = c.world;
        g_world = &world;
        const test::ScopedSeam<TurnPlatform> fake(TurnSeam(), kFake);
        {
            HeldTurn held;
            const HRESULT status = TakeTurn(c.scope, held);
            EXPECT_EQ(status, c.status) << c.name;
            if (status != S_OK) {
                EXPECT_EQ(TurnFailure(status), c.failure) << c.name;
            }
            world.log += L"| ";
        }
        EXPECT_EQ(world.log, c.log) << c.name;
    }
}

} // namespace
} // namespace vandrel
