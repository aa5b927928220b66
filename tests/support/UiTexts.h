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

} // namespace vandrel::test::text
