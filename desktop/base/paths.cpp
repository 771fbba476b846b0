#include "base/paths.h"

#include "base/globals.h"

#include <windows.h>

#include <cwchar>
#include <vector>

std::wstring JoinPath(const std::wstring& base, const std::wstring& relative) {
    if (base.empty())
        return relative;
    wchar_t last = base.back();
    if (last == L'\\' || last == L'/')
        return base + relative;
    return base + L"\\" + relative;
}

std::wstring ModulePath() {
    // A fixed 260-character buffer would cut long paths short, and a cut path would
    // later extract and update the wrong file, so grow until the whole path fits.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return std::wstring();
        if (n < buffer.size())
            return std::wstring(buffer.data(), n);
        if (buffer.size() >= 32768)
            return std::wstring(buffer.data(), n);
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring ShareSpelledPath(const std::wstring& path) {
    for (const wchar_t* prefix : {L"\\\\?\\UNC\\", L"UNC\\"}) {
        size_t n = std::wcslen(prefix);
        if (path.size() > n && _wcsnicmp(path.c_str(), prefix, n) == 0)
            return L"\\\\" + path.substr(n);
    }
    return path;
}

void SetExePaths() {
    ExePath = ShareSpelledPath(ModulePath());
    std::wstring dir = ExePath;
    size_t cut = dir.find_last_of(L"\\/");
    if (cut == std::wstring::npos) {
        dir.clear();
    } else if (cut == 2 && dir.size() > 1 && dir[1] == L':') {
        dir.resize(3); // a drive root keeps its backslash, as C:\ does
    } else {
        dir.resize(cut);
    }
    ExeDir = dir;
}

std::wstring FileUrlFromPath(const std::wstring& path) {
    std::wstring url = L"file:///";
    for (wchar_t c : path) {
        if (c == L'\\') {
            url += L'/';
        } else if (c == L'%' || c == L'#' || c == L'?') {
            wchar_t escape[4];
            std::swprintf(escape, 4, L"%%%02X", static_cast<unsigned>(c));
            url += escape;
        } else {
            url += c;
        }
    }
    return url;
}
