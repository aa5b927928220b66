// The texts a person sees, written out here as the tests expect them (not
// taken from the program's own table, so that a changed text fails a test).
#pragma once

#include <string>

namespace vandrel::test::text {

inline const std::wstring kTitle = L"TypeLib\u6CE8\u518C\u7A0B\u5E8F"; // TypeLib注册程序
inline const std::wstring kOpen = L"\u6253\u5F00";                     // 打开
inline const std::wstring kRegister = L"\u6CE8\u518C";                 // 注册
inline const std::wstring kUnregister = L"\u6CE8\u9500";               // 注销
inline const std::wstring kBrowse = L"\u6D4F\u89C8";                   // 浏览
inline const std::wstring kClose = L"\u5173\u95ED";                    // 关闭
inline const std::wstring kSucceeded = L"\"\u6210\u529F!";             // "成功!
inline const std::wstring kFailed = L"\"\u5931\u8D25!";                // "失败!
inline const std::wstring kDialogTitle =
    L"\u8BF7\u9009\u62E9\u4E00\u4E2A\u6587\u4EF6";                       // 请选择一个文件
inline const std::wstring kTypeLibFiles = L"TypeLib\u6587\u4EF6(*.tlb)"; // TypeLib文件(*.tlb)

// A result message: 注册"<path>"成功! and the like.
inline std::wstring Result(bool unregister, const std::wstring& path, bool succeeded) {
    return (unregister ? kUnregister : kRegister) + L"\"" + path +
           (succeeded ? kSucceeded : kFailed);
}

// What /q answers.
inline const std::wstring kLibraryLead = L"\u7C7B\u578B\u5E93";     // 类型库
inline const std::wstring kInterfaces = L"\u63A5\u53E3";            // 接口
inline const std::wstring kFileThere = L"\u6587\u4EF6\u5B58\u5728"; // 文件存在
inline const std::wstring kFileGone = L"\u6587\u4EF6\u7F3A\u5931";  // 文件缺失
inline const std::wstring kFileUnreachable =
    L"\u6587\u4EF6\u65E0\u6CD5\u8BBF\u95EE"; // 文件无法访问

// What /check finds.
inline const std::wstring kFindingUnreadable =
    L"\u65E0\u6CD5\u8BFB\u53D6\u7C7B\u578B\u5E93"; // 无法读取类型库
inline const std::wstring kFindingWrongLibrary = L"\u7C7B\u578B\u5E93\u4E0D\u7B26"; // 类型库不符
inline const std::wstring kFindingDangling = L"\u60AC\u7A7A\u63A5\u53E3";           // 悬空接口
inline const std::wstring kFindingShadowed =
    L"\u906E\u853D\u8BA1\u7B97\u673A\u6CE8\u518C";                     // 遮蔽计算机注册
inline const std::wstring kRepairLead = L"\u4FEE\u590D:";              // 修复:
inline const std::wstring kDeclaresLead = L"\u6587\u4EF6\u4E2D\u4E3A"; // 文件中为
// 不提供修复: 按标识删除会让系统加载此文件, 并删去另一个类型库的接口键
inline const std::wstring kWrongLibraryNoRepair =
    L"\u4E0D\u63D0\u4F9B\u4FEE\u590D: "
    L"\u6309\u6807\u8BC6\u5220\u9664\u4F1A\u8BA9\u7CFB\u7EDF\u52A0\u8F7D\u6B64\u6587\u4EF6, "
    L"\u5E76\u5220\u53BB\u53E6\u4E00\u4E2A\u7C7B\u578B\u5E93\u7684\u63A5\u53E3\u952E";
inline const std::wstring kNotTypeLib = L"\u4E0D\u662F\u7C7B\u578B\u5E93"; // 不是类型库
inline const std::wstring kDamaged =
    L"\u7C7B\u578B\u5E93\u5DF2\u635F\u574F,\u5DF2\u62D2\u7EDD"; // 类型库已损坏,已拒绝
inline const std::wstring kForMachine = L"\u8BA1\u7B97\u673A";  // 计算机
inline const std::wstring kForUser = L"\u7528\u6237";           // 用户
inline const std::wstring kView32 = L"32\u4F4D\u89C6\u56FE";    // 32位视图

} // namespace vandrel::test::text
