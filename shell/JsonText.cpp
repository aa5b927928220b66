#include "shell/JsonText.h"

namespace vandrel {

std::wstring JsonString(const std::wstring& text) {
    std::wstring json = L"\"";
    for (wchar_t c : text) {
        if (c == L'"' || c == L'\\') {
            json += L'\\';
            json += c;
        } else if (c == L'\n') {
            json += L"\\n";
        } else if (c == L'\r') {
            json += L"\\r";
        } else if (c == L'\t') {
            json += L"\\t";
        } else if (c < 0x20 || c > 0x7E) {
            json += L"\\u";
            for (int shift = 12; shift >= 0; shift -= 4)
                json += L"0123456789ABCDEF"[(c >> shift) & 0xF];
        } else {
            json += c;
        }
    }
    return json + L"\"";
}

std::wstring JsonArray(const std::vector<std::wstring>& values) {
    std::wstring json = L"[";
    for (size_t i = 0; i < values.size(); ++i)
        json += (i ? L", " : L"") + values[i];
    return json + L"]";
}

std::wstring JsonStrings(const std::vector<std::wstring>& texts) {
    std::vector<std::wstring> values;
    for (const std::wstring& text : texts)
        values.push_back(JsonString(text));
    return JsonArray(values);
}

JsonObject& JsonObject::Json(const wchar_t* name, const std::wstring& value) {
    if (!members_.empty()) members_ += L", ";
    members_ += JsonString(name) + L": " + value;
    return *this;
}

JsonObject& JsonObject::Members(const JsonObject& other) {
    if (!members_.empty() && !other.members_.empty()) members_ += L", ";
    members_ += other.members_;
    return *this;
}

JsonObject& JsonObject::Text(const wchar_t* name, const std::wstring& value) {
    return Json(name, JsonString(value));
}

JsonObject& JsonObject::Number(const wchar_t* name, unsigned long long value) {
    return Json(name, DecimalText(value));
}

JsonObject& JsonObject::Boolean(const wchar_t* name, bool value) {
    return Json(name, value ? L"true" : L"false");
}

JsonObject JsonDocument() {
    JsonObject document;
    document.Number(L"version", 1);
    return document;
}

} // namespace vandrel
