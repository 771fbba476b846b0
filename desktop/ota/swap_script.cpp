#include "ota/swap_script.h"

#include <windows.h>

#include <vector>

namespace {

template <typename Text> bool IsAscii(const Text& text) {
    for (auto c : text) {
        if (static_cast<unsigned long>(c) >= 0x80)
            return false;
    }
    return true;
}

// `set "NAME=value"` keeps & | ( ) ^ literal; %% is how a batch file writes one %.
std::string SetLine(const char* name, const std::string& value) {
    std::string line = std::string("set \"") + name + "=";
    for (char c : value) {
        line += c;
        if (c == '%')
            line += '%';
    }
    return line + "\"\r\n";
}

std::wstring ShortPath(const std::wstring& path) {
    DWORD n = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (n == 0)
        return std::wstring();
    std::vector<wchar_t> buffer(n);
    n = GetShortPathNameW(path.c_str(), buffer.data(), n);
    if (n == 0 || n >= buffer.size())
        return std::wstring();
    return std::wstring(buffer.data(), n);
}

} // namespace

std::string BuildSwapScript(const std::string& downloadPath, const std::string& appPath,
                            const std::string& backupPath, bool restart) {
    std::string s = "@echo off\r\nsetlocal\r\n";
    if (!IsAscii(downloadPath) || !IsAscii(appPath) || !IsAscii(backupPath))
        s += "chcp 65001 >nul\r\n";
    s += SetLine("NEW", downloadPath);
    s += SetLine("APP", appPath);
    s += SetLine("BAK", backupPath);
    s += "ping -n 3 127.0.0.1 >nul\r\n"
         "if exist \"%APP%\" copy /Y \"%APP%\" \"%BAK%\" >nul\r\n"
         "set /a TRIES=0\r\n"
         ":copy\r\n"
         "copy /Y \"%NEW%\" \"%APP%\" >nul 2>&1\r\n"
         "if not errorlevel 1 goto copied\r\n"
         "set /a TRIES+=1\r\n"
         "if %TRIES% GEQ 30 goto finish\r\n"
         "ping -n 2 127.0.0.1 >nul\r\n"
         "goto copy\r\n"
         ":copied\r\n"
         "del \"%NEW%\" >nul 2>&1\r\n"
         ":finish\r\n";
    if (restart)
        s += "start \"\" \"%APP%\"\r\n";
    s += "del \"%~f0\" >nul 2>&1\r\n";
    return s;
}

std::wstring ScriptSafePath(const std::wstring& path) {
    if (IsAscii(path))
        return path;
    // Shorten only the folder when the file name is plain, so the name stays readable;
    // this also covers a file that does not exist yet (the backup).
    size_t cut = path.find_last_of(L"\\/");
    if (cut != std::wstring::npos) {
        std::wstring folder = ShortPath(path.substr(0, cut));
        std::wstring joined = folder + path.substr(cut);
        if (!folder.empty() && IsAscii(joined))
            return joined;
    }
    std::wstring whole = ShortPath(path);
    if (!whole.empty() && IsAscii(whole))
        return whole;
    return path;
}
