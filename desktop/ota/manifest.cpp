#include "ota/manifest.h"

#include "base/json.h"

#include <climits>

namespace {

int ParseComponent(const std::wstring& digits) {
    size_t i = 0;
    while (i < digits.size() && (digits[i] == L' ' || (digits[i] >= L'\t' && digits[i] <= L'\r')))
        ++i;
    bool negative = false;
    if (i < digits.size() && (digits[i] == L'+' || digits[i] == L'-')) {
        negative = digits[i] == L'-';
        ++i;
    }
    long long value = 0;
    for (; i < digits.size() && digits[i] >= L'0' && digits[i] <= L'9'; ++i) {
        value = value * 10 + (digits[i] - L'0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1; // saturate, keep reading digits
    }
    if (negative)
        return value > INT_MAX ? INT_MIN : static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

} // namespace

bool HasForceFlag(const std::string& text) {
    static const std::string needle = "\"force\"";
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        size_t pos = at + needle.size();
        while (pos < text.size() && IsJsonSpace(text[pos]))
            ++pos;
        if (pos >= text.size() || text[pos] != ':')
            continue;
        ++pos;
        while (pos < text.size() && IsJsonSpace(text[pos]))
            ++pos;
        if (text.compare(pos, 4, "true") == 0)
            return true;
    }
    return false;
}

std::vector<int> ParseVersion(const std::wstring& version) {
    std::vector<int> parts;
    std::wstring current;
    for (wchar_t c : version) {
        if (c == L'.') {
            parts.push_back(ParseComponent(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        parts.push_back(ParseComponent(current));
    while (parts.size() < 3)
        parts.push_back(0);
    return parts;
}

int CompareVersions(const std::wstring& local, const std::wstring& remote) {
    std::vector<int> a = ParseVersion(local);
    std::vector<int> b = ParseVersion(remote);
    for (size_t i = 0; i < 3; ++i) {
        if (a[i] < b[i])
            return -1;
        if (a[i] > b[i])
            return 1;
    }
    return 0;
}
