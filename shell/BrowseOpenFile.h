// Browsing for a type library in the platform's file-open dialog.
#pragma once

#include "common/Flag.h"

#include <string>

namespace vandrel {

// Shows the file-open dialog titled `title` with the file types of `filter`
// ("description|patterns|..."), followed by an all-files entry, and returns
// the chosen path, or the empty text when the dialog was cancelled. Any
// non-zero `multiSelect` allows several files. Errors of the dialog object
// pass through unchanged.
std::wstring BrowseOpenFile(std::wstring title, const Flag& multiSelect, std::wstring filter);

// What the browse button asks for: one type library, or all files.
std::wstring BrowseForTypeLibrary();

} // namespace vandrel
