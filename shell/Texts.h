// Every text the program shows a person, in one table: the window's, the
// result messages', the browse dialog's and the error box's. (The reason
// line's reasons are their own table, in ReasonLine.cpp; the errors' texts
// are those of common/Error.h.)
#pragma once

namespace vandrel::ui {

inline constexpr wchar_t kAppTitle[] = L"Vandrel";
inline constexpr wchar_t kMainTitle[] = L"TypeLib注册程序";

// The main window's controls.
inline constexpr wchar_t kOpen[] = L"打开";
inline constexpr wchar_t kRegister[] = L"注册";
inline constexpr wchar_t kUnregister[] = L"注销";
inline constexpr wchar_t kBrowse[] = L"浏览";
inline constexpr wchar_t kClose[] = L"关闭";

// A result message is an operation, the quoted path and an outcome:
// 注册"C:\t\a.tlb"成功!
inline constexpr wchar_t kRegisterPrefix[] = L"注册\"";
inline constexpr wchar_t kUnregisterPrefix[] = L"注销\"";
inline constexpr wchar_t kSucceededSuffix[] = L"\"成功!";
inline constexpr wchar_t kFailedSuffix[] = L"\"失败!";
// The line a failure message gains when what the failed call changed could
// not all be put back.
inline constexpr wchar_t kNotRestoredLine[] = L"注册表未能完全恢复原状。";

// The browse dialog.
inline constexpr wchar_t kBrowseTitle[] = L"请选择一个文件";
inline constexpr wchar_t kTypeLibFilter[] = L"TypeLib文件(*.tlb)|*.tlb;*.TLB";
inline constexpr wchar_t kAllFilesFilter[] = L"所有文件(*.*)|*.*";

// What /q and /orphans answer: a library, then each of its registrations.
inline constexpr wchar_t kLibraryLead[] = L"类型库";
inline constexpr wchar_t kInterfaceCount[] = L"接口";
inline constexpr wchar_t kRegistrationLead[] = L"注册";
inline constexpr wchar_t kForMachine[] = L"计算机";
inline constexpr wchar_t kForUser[] = L"用户";
inline constexpr wchar_t kView64[] = L"64位视图";
inline constexpr wchar_t kView32[] = L"32位视图";
inline constexpr wchar_t kFileThere[] = L"文件存在";
inline constexpr wchar_t kFileGone[] = L"文件缺失";
// Neither there nor known to be gone: access refused, a drive or share that
// does not answer, a device, a path to be expanded.
inline constexpr wchar_t kFileUnreachable[] = L"文件无法访问";

// What /check finds: each line opens with its kind. A file that is gone or
// cannot be looked at is told by the file states above.
inline constexpr wchar_t kFindingUnreadable[] = L"无法读取类型库";
inline constexpr wchar_t kFindingWrongLibrary[] = L"类型库不符";
inline constexpr wchar_t kFindingDangling[] = L"悬空接口";
inline constexpr wchar_t kFindingShadowed[] = L"遮蔽计算机注册";
// Before the arguments that repair a registration whose file is gone.
inline constexpr wchar_t kRepairLead[] = L"修复:";
// Before what the file of a wrong library declares, and why no repair follows.
inline constexpr wchar_t kDeclaresLead[] = L"文件中为";
inline constexpr wchar_t kWrongLibraryNoRepair[] =
    L"不提供修复: 按标识删除会让系统加载此文件, 并删去另一个类型库的接口键";

// The reason line of a mistyped switch lists the switches there are.
inline constexpr wchar_t kKnownSwitches[] = L"可用的开关";

// The error box of an error that ends the program; the error's own text
// follows on a line of its own.
inline constexpr wchar_t kErrorLead[] = L"发生意外错误,程序将退出。";

} // namespace vandrel::ui
