// A reader of the JSON documents the questions answer with /json, written
// for the tests apart from the program's writer, so that a fault of the
// writer cannot hide itself.
#pragma once

#include <string>
#include <vector>

namespace vandrel::test {

struct JsonValue {
    enum Kind { Null, Boolean, Number, String, Array, Object } kind = Null;
    std::wstring text;               // a string's characters, a number's or boolean's text
    std::vector<JsonValue> items;    // an array's items, an object's values
    std::vector<std::wstring> names; // an object's member names
    // A member, or nullptr.
    const JsonValue* operator[](const std::wstring& name) const;
};

// One document and nothing after it but blanks, all of it ASCII. False
// where it is not.
bool ReadJson(const std::wstring& text, JsonValue& document);

} // namespace vandrel::test
