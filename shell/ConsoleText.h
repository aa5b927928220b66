// Text for a person at a console, from a program without one of its own:
// to the standard stream when there is one (redirected, piped, or run under
// Wine from a terminal), otherwise into the console of the program that
// started this one, if it has one. Never a console of this program's own.
#pragma once

#include <windows.h>

#include <string>

namespace vandrel {

// `stream` is STD_OUTPUT_HANDLE or STD_ERROR_HANDLE. WriteConsoleW on a
// console, UTF-8 on a file or pipe.
void WriteForAPerson(DWORD stream, const std::wstring& text);

} // namespace vandrel
