// Conversion between wide text and the system's ANSI code page at the
// boundary of the ANSI dialog calls.
#pragma once

#include <string>

namespace vandrel {

// Over the whole length: embedded NULs are kept, nothing is appended (a
// std::string carries its own terminator behind the last character).
std::string ToAnsi(const std::wstring& text);
std::wstring FromAnsi(const std::string& text);
std::wstring FromAnsi(const char* text, std::size_t length);

} // namespace vandrel
