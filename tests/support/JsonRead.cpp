#include "support/JsonRead.h"

#include <cwchar>

namespace vandrel::test {
namespace {

struct Reader {
    const std::wstring& s;
    size_t at = 0;

    void Blanks() {
        while (at < s.size() && std::wcschr(L" \t\r\n", s[at]))
            ++at;
    }
    bool Take(wchar_t c) {
        Blanks();
        if (at < s.size() && s[at] == c) return ++at, true;
        return false;
    }
    bool Chars(std::wstring& out) {
        if (!Take(L'"')) return false;
        while (at < s.size() && s[at] != L'"') {
            wchar_t c = s[at++];
            if (c < 0x20) return false;
            if (c == L'\\') {
                if (at >= s.size()) return false;
                const wchar_t e = s[at++];
                const wchar_t* simple = std::wcschr(L"\"\\/bfnrt", e);
                if (e && simple) {
                    c = L"\"\\/\b\f\n\r\t"[simple - L"\"\\/bfnrt"];
                } else if (e == L'u' && at + 4 <= s.size()) {
                    c = static_cast<wchar_t>(std::wcstoul(s.substr(at, 4).c_str(), nullptr, 16));
                    at += 4;
                } else {
                    return false;
                }
            }
            out += c;
        }
        return Take(L'"');
    }
    bool Value(JsonValue& v) {
        Blanks();
        if (at >= s.size()) return false;
        if (s[at] == L'"') return v.kind = JsonValue::String, Chars(v.text);
        if (Take(L'[')) {
            v.kind = JsonValue::Array;
            if (Take(L']')) return true;
            do
                if (!Value(v.items.emplace_back())) return false;
            while (Take(L','));
            return Take(L']');
        }
        if (Take(L'{')) {
            v.kind = JsonValue::Object;
            if (Take(L'}')) return true;
            do
                if (!Chars(v.names.emplace_back()) || !Take(L':') || !Value(v.items.emplace_back()))
                    return false;
            while (Take(L','));
            return Take(L'}');
        }
        for (const wchar_t* word : {L"true", L"false", L"null"})
            if (s.compare(at, std::wcslen(word), word) == 0) {
                v.kind = *word == L'n' ? JsonValue::Null : JsonValue::Boolean;
                v.text = word;
                at += std::wcslen(word);
                return true;
            }
        v.kind = JsonValue::Number;
        while (at < s.size() && std::wcschr(L"-+.eE0123456789", s[at]) && s[at])
            v.text += s[at++];
        return !v.text.empty();
    }
};

} // namespace

const JsonValue* JsonValue::operator[](const std::wstring& name) const {
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) return &items[i];
    return nullptr;
}

bool ReadJson(const std::wstring& text, JsonValue& document) {
    for (wchar_t c : text)
        if (c > 0x7E) return false;
    Reader reader{text};
    if (!reader.Value(document) || document.kind != JsonValue::Object) return false;
    reader.Blanks();
    return reader.at == text.size();
}

} // namespace vandrel::test
