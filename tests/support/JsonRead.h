// A reader of the JSON documents the program writes with /json, apart from
// its writer, so that a fault of the writer cannot hide itself.
#pragma once

#include <string>
#include <vector>

namespace vandrel::test {

// A string's characters, or a number's, boolean's or null's text; an
// array's items; an object's member names and values.
struct JsonValue {
    bool object = false;
    std::wstring text;
    std::vector<std::wstring> names;
    std::vector<JsonValue> items;
    const JsonValue* operator[](const std::wstring& name) const; // nullptr where none
};

// One object and nothing after it but blanks, all of it ASCII; false where not.
bool ReadJson(const std::wstring& text, JsonValue& document);

} // namespace vandrel::test
