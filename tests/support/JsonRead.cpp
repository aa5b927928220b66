#include "support/JsonRead.h"

#include <cwchar>

namespace vandrel::test {
namespace {

struct Reader {
    const std::wstring& s;
    size_t at = 0;

    bool Take(wchar_t c) {
        while (at < s.size() && s[at] && std::wcschr(L" \t\r\n", s[at]))
            ++at;
        return at < s.size() && s[at] == c && ++at;
    }
    bool String(std::wstring& out) {
        if (!Take(L'"')) return false;
        const wchar_t* escapes = L"\"\\/bfnrt";
        while (at < s.size()) {
            wchar_t c = s[at++];
            if (c == L'"') return true;
            if (c < 0x20 || (c == L'\\' && at == s.size())) return false;
            if (c == L'\\') {
                const wchar_t* e = std::wcschr(escapes, s[at++]);
                if (e && *e) {
                    c = L"\"\\/\b\f\n\r\t"[e - escapes];
                } else if (s[at - 1] == L'u' && at + 4 <= s.size()) {
                    c = static_cast<wchar_t>(std::wcstoul(s.substr(at, 4).c_str(), nullptr, 16));
                    at += 4;
                } else {
                    return false;
                }
            }
            out += c;
        }
        return false;
    }
    // An array's or object's items, up to `close`.
    bool Items(JsonValue& v, wchar_t close) {
        if (Take(close)) return true;
        do
            if ((v.object && (!String(v.names.emplace_back()) || !Take(L':'))) ||
                !Value(v.items.emplace_back()))
                return false;
        while (Take(L','));
        return Take(close);
    }
    bool Value(JsonValue& v) {
        if (Take(L'[')) return Items(v, L']');
        if (Take(L'{')) return v.object = true, Items(v, L'}');
        if (at < s.size() && s[at] == L'"') return String(v.text);
        while (at < s.size() && std::wcschr(L"-+.0123456789eEtrufalsn", s[at]) && s[at])
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
    return reader.Value(document) && document.object && !reader.Take(L'\0') &&
           reader.at == text.size();
}

} // namespace vandrel::test
