// The command line's check of the whole TypeLib tree (/check): one line, or
// one JSON member, for each finding, on standard output. It writes nothing
// to the registry.
#pragma once

#include "registrar/ModVandrel.h"

#include <string>

namespace vandrel {

// 文件缺失 计算机 {libid} 1.0 0 win32 "C:\libs\Foo.tlb" 修复: {libid} 1.0 0 /win32 /u
// and one such line for each kind of finding.
std::wstring FindingLine(const Finding& finding);

// 0 when nothing was found, 1 when something was, 3 when the check could
// not go through (its reason line follows what it found until then).
int CheckAll(bool json);

} // namespace vandrel
