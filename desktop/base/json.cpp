#include "base/json.h"

#include "base/text.h"
#include "base/utf8.h"

namespace {

// Four hex digits at text[pos], or -1.
long ReadHex4(const std::string& text, size_t pos) {
    if (pos + 4 > text.size())
        return -1;
    long value = 0;
    for (size_t i = pos; i < pos + 4; ++i) {
        int d = HexDigit(text[i]);
        if (d < 0)
            return -1;
        value = value * 16 + d;
    }
    return value;
}

// Decodes the \u escape whose hex digits start at text[pos]; returns how many bytes
// after the 'u' it used. A lone or broken surrogate becomes U+FFFD.
size_t DecodeUnicodeEscape(const std::string& text, size_t pos, std::string& out) {
    long unit = ReadHex4(text, pos);
    if (unit < 0) {
        out += 'u'; // not an escape after all: keep the letter, as before
        return 0;
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        if (pos + 6 <= text.size() && text[pos + 4] == '\\' && text[pos + 5] == 'u') {
            long low = ReadHex4(text, pos + 6);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                return 10;
            }
        }
        unit = 0xFFFD;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
        unit = 0xFFFD;
    }
    AppendUtf8(out, static_cast<unsigned long>(unit));
    return 4;
}

} // namespace

bool IsJsonSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::wstring JsonGetString(const std::string& text, const std::string& key) {
    const std::string needle = "\"" + key + "\"";
    size_t at = text.find(needle);
    if (at == std::string::npos)
        return std::wstring();
    size_t colon = text.find(':', at + needle.size());
    if (colon == std::string::npos)
        return std::wstring();
    size_t pos = colon + 1;
    while (pos < text.size() && IsJsonSpace(text[pos]))
        ++pos;
    // A number, object or literal is not a string; reading on to the next quote would
    // return some other member's text.
    if (pos >= text.size() || text[pos] != '"')
        return std::wstring();

    std::string value;
    for (++pos; pos < text.size(); ++pos) {
        char c = text[pos];
        if (c == '"')
            break;
        if (c != '\\' || pos + 1 >= text.size()) {
            value += c;
            continue;
        }
        char e = text[++pos];
        switch (e) {
        case 'n':
            value += '\n';
            break;
        case 't':
            value += '\t';
            break;
        case 'r':
            value += '\r';
            break;
        case 'b':
            value += '\b';
            break;
        case 'f':
            value += '\f';
            break;
        case 'u':
            pos += DecodeUnicodeEscape(text, pos + 1, value);
            break;
        default:
            value += e;
            break;
        }
    }
    return Utf8ToWide(value);
}
