// The one line a failed command writes for a person or a script's log: what
// failed, why, and the status that decided it. The message box stays as it
// is; the line goes to the standard error stream, or to the console of the
// program that started Vandrel, never to a console of Vandrel's own.
#pragma once

#include "registrar/ModVandrel.h"

#include <string>

namespace vandrel {

// Why a command failed, as the line names it.
enum class Reason {
    NoFile,
    NotTypeLib,
    Damaged,
    NotRegistered,
    NoRights,
    Busy,
    Untrusted, // the turn's name is held by what cannot be a Vandrel turn
    Platform,
    NotRestored,
    ElevatedFailed, // the elevated copy it ran again in failed
    Error,          // an unexpected error ended the program
    UnknownSwitch,  // the command line holds a switch that is none
    CheckStopped,   // /check could not read everything it checks
    NotWritten,     // an exported file could not be written
};

Reason ReasonOf(Failure failure);

// The reason's fixed Chinese text.
const wchar_t* ReasonText(Reason reason);

// A status as the line writes it: "0x80070002".
std::wstring StatusText(HRESULT status);

// "Vandrel: 注册失败 "path": 文件不存在 (0x80070002)", with the system's own
// text of the status after it for a platform error, and `detail` after it
// for an unexpected error. `operation` is the command ("注册" or "注销"), or
// empty for an error outside one.
std::wstring ReasonLine(const std::wstring& operation, const std::wstring& path, Reason reason,
                        HRESULT status, const std::wstring& detail = L"");

// Writes the line and a line break: to the standard error stream where there
// is one (WriteConsoleW on a console, UTF-8 on a file or pipe), otherwise to
// the console of the parent process where it has one. Nowhere else.
void WriteReasonLine(const std::wstring& line);

} // namespace vandrel
