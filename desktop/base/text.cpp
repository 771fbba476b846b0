#include "base/text.h"

#include "base/utf8.h"

#include <windows.h>

#include <cwchar>

std::wstring Utf8ToWide(const std::string& bytes) {
    if (bytes.empty())
        return std::wstring();
    int n = static_cast<int>(bytes.size());
    int len = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), n, nullptr, 0);
    if (len <= 0)
        return std::wstring();
    std::wstring text(static_cast<size_t>(len), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), n, &text[0], len);
    return text;
}

std::string WideToUtf8(const std::wstring& text) {
    if (text.empty())
        return std::string();
    int n = static_cast<int>(text.size());
    int len = WideCharToMultiByte(CP_UTF8, 0, text.data(), n, nullptr, 0, nullptr, nullptr);
    if (len <= 0)
        return std::string();
    std::string bytes(static_cast<size_t>(len), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), n, &bytes[0], len, nullptr, nullptr);
    return bytes;
}

std::wstring JsonEscape(const std::wstring& text) {
    static const struct {
        wchar_t c;
        const wchar_t* escape;
    } Short[] = {
        {L'\t', L"\\t"}, {L'\n', L"\\n"}, {L'\r', L"\\r"}, {L'"', L"\\\""}, {L'\\', L"\\\\"}};
    std::wstring out;
    out.reserve(text.size() + 8);
    for (wchar_t c : text) {
        const wchar_t* escape = nullptr;
        for (const auto& s : Short) {
            if (s.c == c)
                escape = s.escape;
        }
        if (escape) {
            out += escape;
        } else if (c < 0x20) {
            wchar_t buf[8];
            std::swprintf(buf, 8, L"\\u%04x", static_cast<unsigned>(c));
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

std::string PercentDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        int hi = -1, lo = -1;
        if (text[i] == '%' && i + 2 < text.size() && (hi = HexDigit(text[i + 1])) >= 0 &&
            (lo = HexDigit(text[i + 2])) >= 0) {
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}
