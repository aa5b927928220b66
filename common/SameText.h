// Equality of two texts as Windows compares names: ordinal, ignoring case.
#pragma once

#include <windows.h>

#include <string>

namespace vandrel {

inline bool SameText(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

} // namespace vandrel
