// The command line's questions: what is registered of a library (/q), and
// which registrations name a file that is gone (/orphans). They answer on
// standard output and write nothing to the registry.
#pragma once

#include "registrar/ModVandrel.h"
#include "shell/JsonText.h"
#include "shell/ModMain.h"

#include <string>
#include <vector>

namespace vandrel {

// A name or path from a file or the registry, quoted for a line: control
// characters as \xNN, quotation marks doubled.
std::wstring Quoted(const std::wstring& text);
// 文件存在, 文件缺失 or 文件无法访问; and in JSON present, missing or unreachable.
const wchar_t* FileStateText(FileState state);
const wchar_t* FileStateWord(FileState state);

// A registration's identity in JSON (libid, major, minor, lcid, platform),
// and with where it is (scope, view where it has one), its path and file.
JsonObject IdentityJson(const LibraryId& id);
JsonObject RegistrationJson(const Registration& registration);
// The arguments that remove a registration whose file is gone:
// {libid} 1.0 0 /win64 /u [/user].
std::vector<std::wstring> RepairArguments(const Registration& registration);

// 类型库 "name" {libid} 1.0 0 win64 接口 2
std::wstring LibraryLine(const LibraryFacts& facts);
// 注册 计算机 64位视图 0 win64 "C:\libs\Foo.tlb" 文件存在
std::wstring RegistrationLine(const Registration& registration);
// Its repair arguments on one line.
std::wstring OrphanLine(const Registration& registration);

// The library (a file, or an identity) and each of its registrations, for
// the machine and the user, in both views, as lines or (/json) one JSON
// document. 0 when it is registered anywhere, 1 when not.
int Query(const CommandLine& line);
// Every registration whose file is gone, as a line ready to remove it, or
// in one JSON document. 0.
int ListOrphans(bool json);

} // namespace vandrel
