// The real Vandrel.exe in command mode: exit statuses, registry effects and
// the result message as a user sees it.
#include "driver/Driver.h"
#include "support/TestSupport.h"
#include "support/UiTexts.h"

#include <gtest/gtest.h>

#include "common/Owned.h"
#include "res/Resource.h"
#include "Version.h"
#include "registrar/host/RegistrationTurn.h"

#include <sddl.h>

#include <cwchar>
#include <string>
#include <vector>

namespace vandrel::test {
namespace {

const std::wstring kRegistered = text::kRegister + L"\"";
const std::wstring kUnregistered = text::kUnregister + L"\"";
using text::kFailed;
using text::kSucceeded;

class CommandLine : public RegistryTest {
protected:
    DWORD Vandrel(const std::wstring& arguments) {
        return vandrel::test::Run(VandrelExe(), arguments);
    }
    TempFolder folder;
};

// The path the current user's own classes hold for an identity.
std::wstring UserRegisteredPath(const LibIdentity& id) {
    wchar_t version[32];
    swprintf(version, 32, L"\\%x.%x\\%lx\\", id.major, id.minor, id.lcid);
    return RegistryDefaultValue(HKEY_CURRENT_USER,
                                L"Software\\Classes\\" + TypeLibKey(id) + version + kPlatformKey);
}

// A library's machine-wide registration in one registry view (its TypeLib key
// and the Interface keys that name it), moved aside under HKCU for one test
// and put back.
class MachineRegistrationAside {
public:
    MachineRegistrationAside(const LibIdentity& id, REGSAM view)
        : aside_path_(L"Software\\VandrelTestAside" + std::to_wstring(view)) {
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, KEY_ALL_ACCESS | view,
                        classes_.put());
        ::RegCreateKeyExW(HKEY_CURRENT_USER, aside_path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                          nullptr, aside_.put(), nullptr);
        const HKEY classes = classes_.get(), aside = aside_.get();
        keys_.push_back(TypeLibKey(id));
        // The view's own Interface key: the handle above is of that view.
        HKEY interfaces = nullptr;
        ::RegOpenKeyExW(classes, L"Interface", 0, KEY_READ | view, &interfaces);
        for (DWORD i = 0;; ++i) {
            wchar_t name[64];
            DWORD length = 64;
            if (::RegEnumKeyExW(interfaces, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            const std::wstring key = L"Interface\\" + std::wstring(name);
            const std::wstring lib = RegistryDefaultValue(classes, key + L"\\TypeLib");
            if (_wcsicmp(lib.c_str(), GuidText(id.guid).c_str()) == 0) keys_.push_back(key);
        }
        ::RegCloseKey(interfaces);
        for (size_t i = 0; i < keys_.size(); ++i) {
            HKEY copy = nullptr;
            ::RegCreateKeyExW(aside, std::to_wstring(i).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &copy, nullptr);
            moved_ += ::RegCopyTreeW(classes, keys_[i].c_str(), copy) == ERROR_SUCCESS &&
                      ::RegDeleteTreeW(classes, keys_[i].c_str()) == ERROR_SUCCESS;
            ::RegCloseKey(copy);
        }
    }
    ~MachineRegistrationAside() {
        for (size_t i = 0; i < keys_.size(); ++i) {
            HKEY key = nullptr;
            ::RegCreateKeyExW(classes_.get(), keys_[i].c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr);
            ::RegCopyTreeW(aside_.get(), std::to_wstring(i).c_str(), key);
            ::RegCloseKey(key);
        }
        aside_.reset();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, aside_path_.c_str());
    }
    // The keys moved aside; at least the TypeLib key when it was registered.
    size_t moved() const { return moved_; }

private:
    std::wstring aside_path_;
    OwnedKey classes_, aside_;
    std::vector<std::wstring> keys_;
    size_t moved_ = 0;
};

// Every failure that can be brought about here names its reason in one line,
// both through a pipe (standard error) and in the console of the program
// that started Vandrel without streams; success writes nothing. (A refusal
// for lack of rights cannot happen under Wine, nor a failed restore: those
// lines are proven with fakes.)
TEST_F(CommandLine, AFailureSaysWhyThroughAPipeAndInTheParentsConsole) {
    const std::wstring alpha = folder.Copy(Fixture(L"Alpha.tlb"), L"Alpha.tlb");
    const std::wstring text = folder.Write(L"text.tlb", "not a type library\r\n");
    const std::wstring cut = folder.Write(L"cut.tlb", ReadBytes(alpha).substr(0, 200));
    const std::wstring unknown = WithUnknownPlatform(folder, alpha, L"unknown.tlb");
    // A turn nobody may take: held here with a descriptor that grants nothing
    // (under Wine the turn is a global mutex, which a squatter can hold).
    PSECURITY_DESCRIPTOR nobody = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:", SDDL_REVISION_1,
                                                                       &nobody, nullptr));
    SECURITY_ATTRIBUTES denied{sizeof denied, nobody, FALSE};
    struct Case {
        std::wstring arguments;
        std::wstring reason; // the line holds `注册失败 "path": ` and this
        bool holdTurn = false;
    };
    const Case cases[] = {
        {folder.path() + L"\\missing.tlb /s", L"文件不存在 (0x80070002)"},
        {text + L" /s", L"不是类型库 (0x"},
        {cut + L" /s", L"类型库已损坏,已拒绝 (0x80028018)"},
        {alpha + L" /u /s", L"没有可注销的注册 (0x"},
        {alpha + L" /s", L"注册轮次被占用或不可信,未能轮到 (0x80071392)", true},
        {unknown + L" /s", L"系统错误 (0x"},
    };
    for (const Case& c : cases) {
        const OwnedHandle turn(c.holdTurn ? ::CreateMutexW(&denied, FALSE, kRegistrationTurnName)
                                          : nullptr);
        const std::wstring path = c.arguments.substr(0, c.arguments.find(L' '));
        const std::wstring operation =
            c.arguments.find(L"/u") != std::wstring::npos ? L"注销" : L"注册";
        const std::wstring expected =
            L"Vandrel: " + operation + L"失败 \"" + path + L"\": " + c.reason;
        const Written piped = RunWithPipe(VandrelExe(), c.arguments);
        EXPECT_EQ(piped.status, 1u) << c.reason;
        EXPECT_EQ(piped.text.rfind(expected, 0), 0u) << piped.text;
        EXPECT_EQ(piped.text.find(L"\r\n"), piped.text.size() - 2) << "one line: " << piped.text;
        const Written shown = RunInConsole(VandrelExe(), c.arguments);
        EXPECT_EQ(shown.status, 1u) << c.reason;
        EXPECT_NE(shown.text.find(expected), std::wstring::npos) << shown.text;
    }
    ::LocalFree(nobody);
    EXPECT_EQ(RunWithPipe(VandrelExe(), alpha + L" /s").text, L"");
    EXPECT_EQ(RunInConsole(VandrelExe(), alpha + L" /u /s").text, L"");
}

// With /user the library goes to HKCU\Software\Classes, interfaces and all,
// and nothing changes for the machine, registered there or not; /u /user
// removes only the user's registration and fails where there is none.
TEST_F(CommandLine, ForTheUserRegistrationGoesToTheUsersClassesOnly) {
    const std::wstring alpha = folder.Copy(Fixture(L"Alpha.tlb"), L"Alpha.tlb");
    const std::wstring dll = folder.Copy(Fixture(L"Embedded.dll"), L"Embedded.dll");
    const std::wstring activeds =
        folder.Copy(WineLibraryFolder() + L"\\activeds.tlb", L"activeds.tlb");
    // Wine's own library, registered for the machine by the prefix: per
    // user it must work with no machine-wide registration to lean on, in
    // either view (the platform reaches into the machine's other view).
    const REGSAM native = sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    const MachineRegistrationAside aside(IdentityOf(activeds), native);
    const MachineRegistrationAside other(IdentityOf(activeds),
                                         KEY_WOW64_64KEY ^ KEY_WOW64_32KEY ^ native);
    ASSERT_GT(aside.moved(), 1u) << "activeds.tlb: no machine-wide registration with interfaces";
    const std::wstring wide = folder.Copy(Fixture(L"AlphaWide.tlb"), L"AlphaWide.tlb");
    struct Case {
        std::wstring lib;
        LibIdentity id;
        std::wstring iface; // one of its interfaces, if any
        bool machineWide;   // registered for the machine as well
        // The file /u names, when not the one registered: a build of the same
        // identity with fewer interfaces than the registered one.
        std::wstring unregisterWith = L"";
    };
    const Case cases[] = {
        {alpha, IdentityOf(alpha), L"{6A1C1E2E-0B7D-4E0A-9C53-1F0E9D2A7B03}", true},
        {dll + L"\\2", IdentityOf(Fixture(L"Gamma.tlb")), L"", false},
        {activeds, IdentityOf(activeds), L"{FD8256D0-FD15-11CE-ABC4-02608C9E7553}", false},
        {wide, IdentityOf(wide), L"{6A1C1E2E-0B7D-4E0A-9C53-1F0E9D2A7B04}", true, alpha},
    };
    for (const Case& c : cases) {
        const std::string name(c.lib.begin() + c.lib.find_last_of(L'\\') + 1, c.lib.end());
        if (c.machineWide) {
            ASSERT_EQ(Vandrel(c.lib + L" /s"), 0u) << name;
        }
        const std::wstring machine = ClassesSnapshot(HKEY_LOCAL_MACHINE);
        const std::wstring user = ClassesSnapshot(HKEY_CURRENT_USER);
        EXPECT_EQ(Vandrel(c.lib + L" /u /user /s"), 1u) << name << ": nothing for the user yet";
        EXPECT_EQ(Vandrel(c.lib + L" /user /s"), 0u) << name;
        EXPECT_EQ(UserRegisteredPath(c.id), c.lib) << name;
        if (!c.iface.empty()) {
            EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, L"Software\\Classes\\Interface\\" +
                                                                 c.iface + L"\\TypeLib"))
                << name;
        }
        EXPECT_TRUE(SameRegistry(machine, ClassesSnapshot(HKEY_LOCAL_MACHINE))) << name;
        const std::wstring& named = c.unregisterWith.empty() ? c.lib : c.unregisterWith;
        EXPECT_EQ(Vandrel(L"\"" + named + L"\" /U /USER /s"), 0u) << name;
        // Once earlier cases have given the user's classes a 32-bit view, the
        // machine-wide registration writes its other view's Interface keys
        // there (HKCR merges the two), and the platform's per-user removal
        // takes them: for that case only the machine's side is compared.
        if (c.unregisterWith.empty()) {
            EXPECT_TRUE(SameRegistry(user, ClassesSnapshot(HKEY_CURRENT_USER))) << name;
        }
        EXPECT_TRUE(SameRegistry(machine, ClassesSnapshot(HKEY_LOCAL_MACHINE))) << name;
        if (c.machineWide) {
            EXPECT_EQ(RegisteredPath(c.id), c.lib) << name;
            EXPECT_EQ(Vandrel(c.lib + L" /u /s"), 0u) << name;
        }
    }
}

TEST_F(CommandLine, SilentRegisterAndUnregisterReportThroughTheExitStatus) {
    const std::wstring lib = folder.Copy(Fixture(L"Alpha.tlb"), L"Alpha.tlb");
    const LibIdentity id = IdentityOf(lib);
    EXPECT_EQ(Vandrel(lib + L" /s"), 0u);
    EXPECT_EQ(RegisteredPath(id), lib);
    EXPECT_EQ(Vandrel(lib + L" /S /U"), 0u);
    EXPECT_EQ(RegisteredPath(id), L"");
    // Nothing left to remove: the second unregistration fails.
    EXPECT_EQ(Vandrel(lib + L" /u /s"), 1u);
}

TEST_F(CommandLine, QuotedPathsWithSpacesAndChineseAreRegisteredWhole) {
    const std::wstring lib =
        folder.Copy(Fixture(L"Beta.tlb"), L"\u7C7B\u578B \u5E93\\Beta lib.tlb"); // 类型 库
    const LibIdentity id = IdentityOf(lib);
    EXPECT_EQ(Vandrel(L"\"" + lib + L"\" /s"), 0u);
    EXPECT_EQ(RegisteredPath(id), lib);
    EXPECT_EQ(Vandrel(L"/s \"" + lib + L"\" /u"), 1u) << "token 0 is the path, here \"/s\"";
    EXPECT_EQ(RegisteredPath(id), lib);
    EXPECT_EQ(Vandrel(L"\"" + lib + L"\" /u /s"), 0u);
    EXPECT_EQ(RegisteredPath(id), L"");
}

TEST_F(CommandLine, TabbedAndEmptyPathsLeaveTheRegistryAlone) {
    const std::wstring text = folder.Write(L"text.tlb", "not a type library");
    // A tab is no separator: "<file>\t/u" is the path, and it names nothing.
    EXPECT_EQ(Vandrel(text + L"\t/u /s"), 1u);
    // An empty first token: nothing is done at all, not even a message.
    EXPECT_EQ(Vandrel(L" " + text), 2u);
    EXPECT_EQ(Vandrel(L"\"\" /u"), 2u);
    EXPECT_EQ(Vandrel(L"   "), 2u);
}

TEST_F(CommandLine, TheResultMessageNamesThePathAsGiven) {
    const std::wstring lib = folder.Copy(Fixture(L"Gamma.tlb"), L"Gamma.tlb");
    struct Step {
        std::wstring arguments, message;
        DWORD status;
    };
    const std::vector<Step> steps = {
        {L"\"" + lib + L"\"", kRegistered + lib + kSucceeded, 0},
        {lib + L" /u", kUnregistered + lib + kSucceeded, 0},
        {lib + L" /U", kUnregistered + lib + kFailed, 1},
        {L"\"" + folder.path() + L"\\no such.tlb\"",
         kRegistered + folder.path() + L"\\no such.tlb" + kFailed, 1},
        {L"\"" + lib + L"\" /user", kRegistered + lib + kSucceeded, 0},
        {lib + L" /u /User", kUnregistered + lib + kSucceeded, 0},
        {lib + L" /USER /u", kUnregistered + lib + kFailed, 1},
    };
    for (const Step& step : steps) {
        Process process = Process::Start(VandrelExe(), step.arguments);
        HWND box = WaitForMessageBox(process.id());
        ASSERT_NE(box, nullptr) << "no message box";
        EXPECT_EQ(MessageBoxText(box), step.message);
        // A command that did not wait for its box would be over by now or
        // within 300 ms: a whole command-mode run takes about 100 ms here.
        EXPECT_EQ(process.Wait(300), STILL_ACTIVE) << "the box holds the command";
        PressOk(box);
        EXPECT_EQ(process.Wait(), step.status);
    }
}

TEST(Executable, CarriesTheVersionResourceExactly) {
    const std::wstring exe = VandrelExe();
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> data(size);
    ASSERT_TRUE(::GetFileVersionInfoW(exe.c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    // The project's version, as CMake gives it to the resource script too.
    const DWORD high = MAKELONG(VANDREL_VERSION_MINOR, VANDREL_VERSION_MAJOR);
    const DWORD low = MAKELONG(0, VANDREL_VERSION_PATCH);
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);
    struct {
        const wchar_t* name;
        std::wstring value;
    } const strings[] = {
        {L"FileVersion", L"" VANDREL_VERSION_TEXT},
        {L"ProductVersion", L"" VANDREL_VERSION_TEXT},
        {L"InternalName", L"Vandrel"},
        {L"OriginalFilename", L"Vandrel.exe"},
        {L"Comments", L"\u5907\u6CE8"},                // 备注
        {L"FileDescription", L"\u63CF\u8FF0"},         // 描述
        {L"ProductName", L"\u4EA7\u54C1\u540D\u79F0"}, // 产品名称
    };
    for (const auto& s : strings) {
        wchar_t* value = nullptr;
        const std::wstring key = std::wstring(L"\\StringFileInfo\\080404b0\\") + s.name;
        ASSERT_TRUE(
            ::VerQueryValueW(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &length))
            << s.name;
        EXPECT_EQ(std::wstring(value), s.value);
    }
}

TEST(Executable, CarriesAnIconGroupWith32And16PixelImages) {
    HMODULE module = ::LoadLibraryExW(VandrelExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    for (int size : {32, 16}) {
        HICON icon = static_cast<HICON>(
            ::LoadImageW(module, MAKEINTRESOURCEW(IDI_VANDREL), IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info{};
        ASSERT_TRUE(::GetIconInfo(icon, &info));
        BITMAP bitmap{};
        ::GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        ::DeleteObject(info.hbmColor);
        ::DeleteObject(info.hbmMask);
        ::DestroyIcon(icon);
    }
    ::FreeLibrary(module);
}

} // namespace
} // namespace vandrel::test
