// A number in decimal: registry data (FLAGS) and counts in answers.
// std::to_wstring would link the C library's whole formatted printing, a
// tenth of the executable.
#pragma once

#include <string>

namespace vandrel {

inline std::wstring DecimalText(unsigned long long value) {
    std::wstring digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + value % 10));
        value /= 10;
    } while (value);
    return digits;
}

} // namespace vandrel
