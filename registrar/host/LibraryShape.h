// A type library file that plainly ends before its own parts do: one in the
// MSFT layout whose header, type-info offsets or segment directory, or a
// segment the directory places, reaches past the end of the file. Such a
// file is called damaged at once, without starting a worker, and the reason
// a person reads is the right one. Nothing else is checked here: whatever a
// library holds is read in the worker, which no file can harm Vandrel from.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace vandrel {

bool ImageEndsEarly(const BYTE* image, size_t size);

// The same for a file on disk (its first bytes and its size). A file that
// cannot be read here is left to the loader, which says why.
bool FileEndsEarly(const std::wstring& file);

} // namespace vandrel
