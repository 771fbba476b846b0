#include "browser/page_address.h"

#include "base/text.h"

#include <cctype>

namespace {

bool IsDrive(const std::string& text) {
    return text.size() >= 2 && std::isalpha(static_cast<unsigned char>(text[0])) &&
           (text[1] == ':' || text[1] == '|') && (text.size() == 2 || text[2] == '/');
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// One spelling per file document: "/C:/dir/page.html" for a local file and
// "//server/share/dir/page.html" for a share, escapes decoded, separators as slashes.
// Any other address stays as it is, decoded.
std::string DocumentKey(const std::wstring& address) {
    std::string url = WideToUtf8(address.substr(0, address.find(L'#')));
    if (Lower(url.substr(0, 5)) != "file:")
        return PercentDecode(url);
    std::string rest = PercentDecode(url.substr(5));
    for (char& c : rest)
        if (c == '\\')
            c = '/';
    size_t slashes = rest.find_first_not_of('/');
    if (slashes == std::string::npos)
        slashes = rest.size();
    rest.erase(0, slashes);

    std::string host;
    // file:///C:/... names a local file; two slashes (file://server/...) or the old
    // five (file://///server/...) put a server first, unless it is a drive or localhost.
    if (slashes != 3 && slashes >= 2 && !IsDrive(rest)) {
        size_t end = rest.find('/');
        host = Lower(rest.substr(0, end));
        rest.erase(0, end == std::string::npos ? rest.size() : end + 1);
        if (host == "localhost")
            host.clear();
    }
    if (IsDrive(rest)) {
        rest[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(rest[0])));
        rest[1] = ':';
    }
    return host.empty() ? "/" + rest : "//" + host + "/" + rest;
}

// The key of the origin a document key belongs to: "/" or "//server/".
std::string OriginKey(const std::string& key) {
    if (key.compare(0, 2, "//") != 0)
        return "/";
    return key.substr(0, key.find('/', 2) + 1);
}

} // namespace

bool IsPageSource(const std::wstring& address, const std::wstring& page) {
    return !address.empty() && DocumentKey(address) == DocumentKey(page);
}

bool IsPageOrigin(const std::wstring& address, const std::wstring& page) {
    auto isFile = [](const std::wstring& url) {
        return Lower(WideToUtf8(url.substr(0, 5))) == "file:";
    };
    if (!isFile(address) || !isFile(page))
        return false;
    std::string key = DocumentKey(address), pageKey = DocumentKey(page);
    return key == pageKey || key == OriginKey(pageKey);
}
