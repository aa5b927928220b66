// Makes sure a text ends with a given suffix.
#pragma once

#include <string>

namespace vandrel {

// `text` itself when it already ends with `suffix` (compared code unit by
// code unit, case counting), else `text` followed by `suffix`.
std::wstring AddString(std::wstring text, std::wstring suffix);

} // namespace vandrel
