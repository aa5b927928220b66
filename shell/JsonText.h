// JSON text for scripts: what a command answers with /json. Every document
// is ASCII only (a character above U+007E as \uXXXX, a control character
// escaped), so that any code page reads it unchanged, as PowerShell reads a
// program's output in the console's (936 on Chinese Windows).
#pragma once

#include "common/DecimalText.h"

#include <string>
#include <vector>

namespace vandrel {

// A JSON string: quoted, with '"' and '\' escaped, control characters as
// \n, \r, \t or \u00XX, and every character above U+007E as \uXXXX (each
// UTF-16 unit: a character beyond the basic plane is its surrogate pair).
std::wstring JsonString(const std::wstring& text);

// An array of values already written as JSON.
std::wstring JsonArray(const std::vector<std::wstring>& values);
// An array of strings.
std::wstring JsonStrings(const std::vector<std::wstring>& texts);

// An object, member by member in the order added. Names are the program's
// own ASCII words.
class JsonObject {
public:
    JsonObject& Text(const wchar_t* name, const std::wstring& value);
    JsonObject& Number(const wchar_t* name, unsigned long long value);
    JsonObject& Boolean(const wchar_t* name, bool value);
    // A value already written as JSON: an object or an array.
    JsonObject& Json(const wchar_t* name, const std::wstring& value);
    // Every member of another object, after these.
    JsonObject& Members(const JsonObject& other);
    std::wstring Written() const { return L"{" + members_ + L"}"; }

private:
    std::wstring members_;
};

// A document's top level, {"version": 1, ...}, with the members that follow
// added to it. The version grows only when a field changes its meaning.
JsonObject JsonDocument();

} // namespace vandrel
