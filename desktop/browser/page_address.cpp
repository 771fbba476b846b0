#include "browser/page_address.h"

#include "base/file_url.h"
#include "base/text.h"

namespace {

// One spelling per file document: "/C:/dir/page.html" for a local file and
// "//server/share/dir/page.html" for a share, escapes decoded. Any other address stays
// as it is, decoded.
std::string DocumentKey(const std::wstring& address) {
    std::string url = WideToUtf8(address.substr(0, address.find(L'#')));
    std::string server, path;
    if (!SplitFileUrl(url, server, path))
        return PercentDecode(url);
    TakeDrive(path);
    path = PercentDecode(path);
    return server.empty() ? "/" + path : "//" + PercentDecode(server) + "/" + path;
}

// The key of the origin a document key belongs to: "/" or "//server/".
std::string OriginKey(const std::string& key) {
    if (key.compare(0, 2, "//") != 0)
        return "/";
    return key.substr(0, key.find('/', 2) + 1);
}

bool IsFileUrl(const std::wstring& url) {
    std::string server, path;
    return SplitFileUrl(WideToUtf8(url), server, path);
}

} // namespace

bool IsPageSource(const std::wstring& address, const std::wstring& page) {
    return !address.empty() && DocumentKey(address) == DocumentKey(page);
}

bool IsPageOrigin(const std::wstring& address, const std::wstring& page) {
    if (!IsFileUrl(address) || !IsFileUrl(page))
        return false;
    std::string key = DocumentKey(address), pageKey = DocumentKey(page);
    return key == pageKey || key == OriginKey(pageKey);
}
