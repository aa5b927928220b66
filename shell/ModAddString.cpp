#include "shell/ModAddString.h"

namespace vandrel {

std::wstring AddString(std::wstring text, std::wstring suffix) {
    // Exact code units: a file-type filter is not a file name, and its case
    // and every character count.
    const bool present = text.size() >= suffix.size() &&
                         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
    if (!present) text += suffix;
    return text;
}

} // namespace vandrel
