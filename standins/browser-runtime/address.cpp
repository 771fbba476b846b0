// Addresses between the host's Windows spelling and Chromium's Linux one. The host asks
// for file:///C:/... (or a share); Chromium loads the Linux file. What the runtime
// reports back is spelled the way the real control spells it, which is not the way the
// host asked: drive letter in upper case, a share \\server\share\... as
// file://server/share/..., spaces, quotes and non-ASCII characters escaped.
#include "base/file_url.h"
#include "base/text.h"
#include "launch.h"
#include "runtime.h"

#include <cctype>

namespace {

using DosNameFn = WCHAR*(CDECL*)(LPCSTR);

std::string PercentEncodePath(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// Chromium's escaping of a URL path: controls, space, quotes, angle brackets, braces,
// backticks and every non-ASCII byte; an existing escape stays as it is.
std::string CanonicalPath(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < path.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        bool escape = c <= 0x20 || c >= 0x7F || std::string("\"<>`{}").find(c) != std::string::npos;
        if (c == '%')
            escape = i + 2 >= path.size() || !isxdigit(static_cast<unsigned char>(path[i + 1])) ||
                     !isxdigit(static_cast<unsigned char>(path[i + 2]));
        if (c == '\\')
            out += '/';
        else if (escape)
            out += std::string("%") + hex[c >> 4] + hex[c & 15];
        else
            out += static_cast<char>(c);
    }
    return out;
}

} // namespace

std::string MapUrl(const std::wstring& uri) {
    std::string url = ToUtf8(uri);
    size_t tail = url.find_first_of("?#");
    std::string server, path;
    if (!SplitFileUrl(url.substr(0, tail), server, path) || (server.empty() && !TakeDrive(path)))
        return url;
    // A query or fragment is not part of the file's name.
    std::wstring windowsPath = FromUtf8(PercentDecode(path));
    for (wchar_t& c : windowsPath)
        if (c == L'/')
            c = L'\\';
    if (!server.empty())
        windowsPath = L"\\\\" + FromUtf8(server) + L"\\" + windowsPath;
    std::string unixPath = UnixPath(windowsPath);
    if (unixPath.empty())
        return url;
    return "file://" + PercentEncodePath(unixPath) +
           (tail == std::string::npos ? std::string() : url.substr(tail));
}

std::wstring CanonicalAddress(const std::wstring& uri) {
    std::string url = ToUtf8(uri);
    size_t tail = url.find_first_of("?#");
    std::string server, path;
    if (!SplitFileUrl(url.substr(0, tail), server, path))
        return uri;
    TakeDrive(path);
    return FromUtf8("file://" + server + "/" + CanonicalPath(path) +
                    (tail == std::string::npos ? std::string() : url.substr(tail)));
}

std::wstring Page::HostAddress(const std::string& url) const {
    size_t cut = url.find('#');
    std::string document = url.substr(0, cut);
    std::string fragment = cut == std::string::npos ? std::string() : url.substr(cut);
    if (!requestedUrl.empty() && document == requestedUrl.substr(0, requestedUrl.find('#'))) {
        std::wstring asked = requestedUri.substr(0, requestedUri.find(L'#'));
        return CanonicalAddress(asked + FromUtf8(fragment));
    }
    // Another local file: named by its Windows path, as Wine sees it.
    auto dosName = reinterpret_cast<DosNameFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (_strnicmp(url.c_str(), "file:///", 8) == 0 && dosName) {
        std::string unixPath = PercentDecode(document.substr(7));
        if (WCHAR* name = dosName(unixPath.c_str())) {
            std::wstring windowsPath(name);
            HeapFree(GetProcessHeap(), 0, name);
            if (windowsPath.rfind(L"\\\\?\\", 0) != 0)
                return CanonicalAddress(L"file:///" + windowsPath + FromUtf8(fragment));
        }
    }
    return FromUtf8(url);
}
