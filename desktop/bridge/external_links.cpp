#include "bridge/external_links.h"

#include "base/stop_signal.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <atomic>
#include <cwctype>
#include <system_error>
#include <thread>

namespace {

constexpr size_t MaxUrlLength = 2048;
// Calls still waiting for their handler; a page asking faster than handlers start does
// not pile up threads.
constexpr int MaxPendingOpens = 4;
std::atomic<int> PendingOpens{0};

// Spaces of any kind, control and format characters (bidirectional overrides among
// them), and what ends a quoted argument or means something to cmd. Brackets are left
// to the grammar: they may enclose an IPv6 host.
bool IsForbidden(wchar_t c) {
    if (c < 0x20 || (c >= 0x7f && c <= 0xa0) || c == 0x1680 || (c >= 0x2000 && c <= 0x200f) ||
        (c >= 0x2028 && c <= 0x202f) || (c >= 0x205f && c <= 0x206f) || c == 0x3000 || c == 0xfeff)
        return true;
    return std::wstring(L" \"'`<>^\\{}|").find(c) != std::wstring::npos;
}

bool IsHex(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

bool IsAlnum(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

// Every character allowed at all, every escape complete, surrogates in pairs.
bool IsCleanText(const std::wstring& url) {
    for (size_t i = 0; i < url.size(); ++i) {
        wchar_t c = url[i];
        if (IsForbidden(c))
            return false;
        if (c == L'%' && (i + 2 >= url.size() || !IsHex(url[i + 1]) || !IsHex(url[i + 2])))
            return false;
        if (c >= 0xd800 && c <= 0xdbff) {
            if (i + 1 >= url.size() || url[i + 1] < 0xdc00 || url[i + 1] > 0xdfff)
                return false;
            ++i;
        } else if (c >= 0xdc00 && c <= 0xdfff) {
            return false;
        }
    }
    return true;
}

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
    for (size_t i = 0; prefix[i]; ++i) {
        if (i >= text.size() || std::towlower(text[i]) != prefix[i])
            return false;
    }
    return true;
}

// Letters, digits, "-._~", escapes and characters beyond ASCII (an international name).
bool IsNameText(const std::wstring& text, const wchar_t* extra = L"") {
    if (text.empty())
        return false;
    for (wchar_t c : text)
        if (!IsAlnum(c) && c < 0x80 && !std::wcschr(L"-._~%", c) && !std::wcschr(extra, c))
            return false;
    return true;
}

bool IsPort(const std::wstring& port) {
    if (port.empty() || port.size() > 5)
        return false;
    unsigned long value = 0;
    for (wchar_t c : port) {
        if (c < L'0' || c > L'9')
            return false;
        value = value * 10 + static_cast<unsigned long>(c - L'0');
    }
    return value <= 65535;
}

// host, [IPv6] or host:port, after any user information.
bool IsAuthority(const std::wstring& authority) {
    size_t at = authority.rfind(L'@');
    if (at != std::wstring::npos && !IsNameText(authority.substr(0, at), L"!$&()*+,;=:"))
        return false;
    std::wstring host = at == std::wstring::npos ? authority : authority.substr(at + 1);
    size_t colon = std::wstring::npos;
    if (!host.empty() && host[0] == L'[') {
        size_t end = host.find(L']');
        if (end == std::wstring::npos || end < 3)
            return false;
        for (size_t i = 1; i < end; ++i)
            if (!IsHex(host[i]) && host[i] != L':' && host[i] != L'.')
                return false;
        if (end + 1 < host.size() && host[end + 1] != L':')
            return false;
        colon = end + 1 < host.size() ? end + 1 : std::wstring::npos;
    } else {
        colon = host.find(L':');
        if (!IsNameText(host.substr(0, colon)))
            return false;
    }
    return colon == std::wstring::npos || IsPort(host.substr(colon + 1));
}

// Path, query and fragment: the characters an address holds unescaped, one "#" at most.
bool IsTail(const std::wstring& tail) {
    bool fragment = false;
    for (wchar_t c : tail) {
        if (c == L'#') {
            if (fragment)
                return false;
            fragment = true;
        } else if (c < 0x80 && !IsAlnum(c) && !std::wcschr(L"-._~!$&()*+,;=:@/?%", c)) {
            return false;
        }
    }
    return true;
}

bool IsWebUrl(const std::wstring& url, size_t schemeLength) {
    std::wstring rest = url.substr(schemeLength);
    size_t end = rest.find_first_of(L"/?#");
    return IsAuthority(rest.substr(0, end)) &&
           (end == std::wstring::npos || IsTail(rest.substr(end)));
}

// mailto:local@domain[,local@domain...][?header=value&...]
bool IsMailUrl(const std::wstring& url) {
    std::wstring rest = url.substr(7);
    size_t query = rest.find(L'?');
    std::wstring to = rest.substr(0, query);
    size_t start = 0;
    do {
        size_t comma = to.find(L',', start);
        std::wstring address = to.substr(start, comma - start);
        size_t at = address.find(L'@');
        if (at == std::wstring::npos || !IsNameText(address.substr(0, at), L"!$&*+/=") ||
            !IsNameText(address.substr(at + 1)))
            return false;
        start = comma == std::wstring::npos ? comma : comma + 1;
    } while (start != std::wstring::npos);
    return query == std::wstring::npos || IsTail(rest.substr(query));
}

void OpenWithShellExecute(const std::wstring& url) {
    // Shell handlers may be COM objects, which want an apartment on this thread.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    if (!StopRequested())
        ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    if (SUCCEEDED(com))
        CoUninitialize();
}

} // namespace

void (*OpenLinkWithShell)(const std::wstring& url) = OpenWithShellExecute;

bool IsOpenableUrl(const std::wstring& url) {
    if (url.empty() || url.size() > MaxUrlLength || !IsCleanText(url))
        return false;
    if (StartsWithNoCase(url, L"http://"))
        return IsWebUrl(url, 7);
    if (StartsWithNoCase(url, L"https://"))
        return IsWebUrl(url, 8);
    return StartsWithNoCase(url, L"mailto:") && IsMailUrl(url);
}

void OpenExternal(const std::wstring& url) {
    if (!IsOpenableUrl(url) || StopRequested())
        return;
    if (++PendingOpens > MaxPendingOpens) {
        --PendingOpens;
        return;
    }
    // Not one of the tasks the program waits for at exit: it holds nothing of the
    // program's, and a handler slow to start must not hold up the close.
    try {
        std::thread([url, open = OpenLinkWithShell] {
            open(url);
            --PendingOpens;
        }).detach();
    } catch (const std::system_error&) {
        --PendingOpens;
    }
}
