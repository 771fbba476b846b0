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

std::string BuildSwapScript(const SwapScriptPaths& paths, bool restart) {
    // Delayed expansion off: a '!' in a path stays a '!'.
    std::string s = "@echo off\r\nsetlocal DisableDelayedExpansion\r\n";
    if (!IsAscii(paths.staged) || !IsAscii(paths.app) || !IsAscii(paths.backup) ||
        !IsAscii(paths.started))
        s += "chcp 65001 >nul\r\n";
    s += SetLine("NEW", paths.staged);
    s += SetLine("APP", paths.app);
    s += SetLine("BAK", paths.backup);
    s += SetLine("MARK", paths.started);
    s += "echo started>\"%MARK%\"\r\n"
         "ping -n 3 127.0.0.1 >nul\r\n"
         "set /a TRIES=0\r\n"
         ":backup\r\n"
         "if not exist \"%APP%\" goto replace\r\n"
         "copy /Y \"%APP%\" \"%BAK%\" >nul 2>&1\r\n"
         "if errorlevel 1 goto again\r\n"
         "set \"ASIZE=\"\r\n"
         "set \"BSIZE=\"\r\n"
         "for %%F in (\"%APP%\") do set \"ASIZE=%%~zF\"\r\n"
         "for %%F in (\"%BAK%\") do set \"BSIZE=%%~zF\"\r\n"
         "if not \"%ASIZE%\"==\"%BSIZE%\" goto again\r\n"
         "goto replace\r\n"
         ":again\r\n"
         "set /a TRIES+=1\r\n"
         "if %TRIES% GEQ 60 goto giveup\r\n"
         "ping -n 3 127.0.0.1 >nul\r\n"
         "goto backup\r\n"
         ":replace\r\n"
         "move /Y \"%NEW%\" \"%APP%\" >nul 2>&1\r\n"
         "if not exist \"%NEW%\" goto finish\r\n"
         "set /a TRIES+=1\r\n"
         "if %TRIES% GEQ 60 goto giveup\r\n"
         "ping -n 3 127.0.0.1 >nul\r\n"
         "goto replace\r\n"
         ":giveup\r\n"
         "del \"%NEW%\" >nul 2>&1\r\n"
         ":finish\r\n"
         "if not exist \"%APP%\" if exist \"%BAK%\" copy /Y \"%BAK%\" \"%APP%\" >nul 2>&1\r\n";
    if (restart)
        s += "start \"\" \"%APP%\"\r\n";
    s += "del \"%MARK%\" >nul 2>&1\r\n"
         "del \"%~f0\" >nul 2>&1\r\n";
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
