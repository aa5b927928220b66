// What a command would do (/n): the keys and values that registering,
// unregistering or removing a registration by identity would add (+),
// change (~) or remove (-), one to a line, and the exit status the command
// would have. Nothing is written. Rights, elevation and the turn (another
// registration running) are not predicted.
#pragma once

#include "registrar/ModVandrel.h"
#include "shell/ModMain.h"

#include <string>

namespace vandrel {

// "+ HKEY_LOCAL_MACHINE\Software\Classes\Interface\{iid}" for a key,
// "~ ...\TypeLib\{libid}\1.0\FLAGS @="0"" for a value.
std::wstring ChangeLine(const RegistryChange& change, Scope scope);

int WhatIf(const CommandLine& line);

} // namespace vandrel
