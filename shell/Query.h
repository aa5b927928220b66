// The command line's questions: what is registered of a library (/q), and
// which registrations name a file that is gone (/orphans). They answer on
// standard output and write nothing to the registry.
#pragma once

#include "registrar/ModVandrel.h"
#include "shell/ModMain.h"

#include <string>

namespace vandrel {

// 类型库 "name" {libid} 1.0 0 win64 接口 2
std::wstring LibraryLine(const LibraryFacts& facts);
// 注册 计算机 64位视图 0 win64 "C:\libs\Foo.tlb" 文件存在
std::wstring RegistrationLine(const Registration& registration);
// {libid} 1.0 0 /win64 /u [/user]: the arguments that remove it.
std::wstring OrphanLine(const Registration& registration);

// The library (a file, or an identity) and each of its registrations, for
// the machine and the user, in both views. 0 when it is registered
// anywhere, 1 when not.
int Query(const CommandLine& line);
// Every registration whose file is gone, as a line ready to remove it. 0.
int ListOrphans();

} // namespace vandrel
