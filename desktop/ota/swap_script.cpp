#include "ota/swap_script.h"

#include <windows.h>
#include <shellapi.h>

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

// A version in the script is echoed unquoted, so only plain version characters pass.
std::string PlainWord(const std::string& text) {
    std::string word;
    for (char c : text) {
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
            c == '.' || c == '-' || c == '+' || c == '_')
            word += c;
    }
    return word.empty() ? std::string("(unknown)") : word.substr(0, 64);
}

std::string Header(const SwapScriptPaths& paths) {
    // Delayed expansion off: a '!' in a path stays a '!'.
    std::string s = "@echo off\r\nsetlocal DisableDelayedExpansion\r\n";
    const std::string* values[] = {&paths.staged, &paths.app,    &paths.backup, &paths.started,
                                   &paths.trial,  &paths.undone, &paths.log};
    for (const std::string* value : values) {
        if (!IsAscii(*value)) {
            s += "chcp 65001 >nul\r\n";
            break;
        }
    }
    s += SetLine("NEW", paths.staged);
    s += SetLine("APP", paths.app);
    s += SetLine("BAK", paths.backup);
    s += SetLine("MARK", paths.started);
    s += SetLine("TRIAL", paths.trial);
    s += SetLine("UNDONE", paths.undone);
    s += SetLine("LOG", paths.log);
    s += SetLine("VER", PlainWord(paths.version));
    return s;
}

// The new program writes "running" into its marker and holds it without sharing until
// it passes, so the marker reads as nothing while it is on trial and as "running" once
// it has ended without passing, however it ended. Ends at :end.
const char* const WatchSection =
    "set /a WAITED=0\r\n"
    ":watching\r\n"
    "ping -n 2 127.0.0.1 >nul\r\n"
    "if not exist \"%TRIAL%\" goto end\r\n"
    "set \"STATE=\"\r\n"
    "set /p STATE=<\"%TRIAL%\"\r\n"
    "if \"%STATE%\"==\"passed\" goto kept\r\n"
    "set \"WHY=%VER% ended before it came up\"\r\n"
    "if \"%STATE%\"==\"running\" goto rollback\r\n"
    "set \"WHY=%VER% did not come up in time\"\r\n"
    "if \"%STATE%\"==\"timeout\" goto rollback\r\n"
    "set /a WAITED+=1\r\n"
    "if %WAITED% GEQ 180 goto rollback\r\n"
    "set \"WHY=%VER% did not start\"\r\n"
    "if \"%STATE%\"==\"unwatched\" set \"STATE=pending\"\r\n"
    "if \"%STATE%\"==\"pending\" if %WAITED% GEQ 90 goto rollback\r\n"
    "goto watching\r\n"
    ":kept\r\n"
    "del \"%TRIAL%\" >nul 2>&1\r\n"
    "goto end\r\n"
    ":rollback\r\n"
    "if not exist \"%BAK%\" goto lost\r\n"
    "set /a TRIES=0\r\n"
    ":restore\r\n"
    "move /Y \"%BAK%\" \"%APP%\" >nul 2>&1\r\n"
    "if not exist \"%BAK%\" goto restored\r\n"
    "set /a TRIES+=1\r\n"
    "if %TRIES% GEQ 60 goto lost\r\n"
    "ping -n 3 127.0.0.1 >nul\r\n"
    "goto restore\r\n"
    ":restored\r\n"
    "del \"%TRIAL%\" >nul 2>&1\r\n"
    ">\"%UNDONE%\" echo %VER%\r\n"
    ">>\"%LOG%\" echo update rolled back: %WHY%\r\n"
    "start \"\" \"%APP%\"\r\n"
    "goto end\r\n"
    ":lost\r\n"
    "del \"%TRIAL%\" >nul 2>&1\r\n"
    ">>\"%LOG%\" echo update not rolled back: %WHY%, the backup could not be put back\r\n"
    "goto end\r\n";

} // namespace

std::string BuildSwapScript(const SwapScriptPaths& paths, bool restart) {
    std::string s = Header(paths);
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
         "if not exist \"%NEW%\" goto giveup\r\n"
         "move /Y \"%NEW%\" \"%APP%\" >nul 2>&1\r\n"
         "if not exist \"%NEW%\" goto swapped\r\n"
         "set /a TRIES+=1\r\n"
         "if %TRIES% GEQ 60 goto giveup\r\n"
         "ping -n 3 127.0.0.1 >nul\r\n"
         "goto replace\r\n"
         ":giveup\r\n"
         "del \"%NEW%\" >nul 2>&1\r\n"
         "if not exist \"%APP%\" if exist \"%BAK%\" copy /Y \"%BAK%\" \"%APP%\" >nul 2>&1\r\n";
    if (restart)
        s += "start \"\" \"%APP%\"\r\n";
    s += "goto end\r\n"
         ":swapped\r\n"
         "if not exist \"%APP%\" goto giveup\r\n";
    if (restart) {
        // A marker that cannot be written leaves the new program without a trial.
        s += ">\"%TRIAL%\" echo pending\r\n"
             "start \"\" \"%APP%\"\r\n";
        s += WatchSection;
    } else {
        s += ">\"%TRIAL%\" echo unwatched\r\n";
    }
    s += ":end\r\n"
         "del \"%MARK%\" >nul 2>&1\r\n"
         "del \"%~f0\" >nul 2>&1\r\n";
    return s;
}

std::string BuildTrialScript(const SwapScriptPaths& paths) {
    return Header(paths) + WatchSection +
           ":end\r\n"
           "del \"%~f0\" >nul 2>&1\r\n";
}

bool StartHiddenScript(const std::wstring& script, HANDLE* process) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = L"open";
    info.lpFile = script.c_str();
    info.nShow = SW_HIDE;
    bool started = ShellExecuteExW(&info);
    if (process)
        *process = started ? info.hProcess : nullptr;
    else if (started && info.hProcess)
        CloseHandle(info.hProcess);
    return started;
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
