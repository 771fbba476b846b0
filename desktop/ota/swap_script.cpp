#include "ota/swap_script.h"

#include "base/paths.h"
#include "ota/processes.h"

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

std::string Header(const SwapScriptPaths& paths) {
    // Delayed expansion off: a '!' in a path stays a '!'. System programs are named by
    // their full path and run from the system folder, so nothing planted in the
    // program's folder (a ping.bat beside a portable copy) can stand in for them.
    std::string s = "@echo off\r\nsetlocal DisableDelayedExpansion\r\n";
    if (paths.system.empty())
        s += "set \"SYS=%SystemRoot%\\System32\"\r\n";
    else
        s += SetLine("SYS", paths.system);
    s += "cd /d \"%SYS%\"\r\n";
    const std::string* values[] = {&paths.staged, &paths.app,    &paths.backup, &paths.started,
                                   &paths.trial,  &paths.undone, &paths.log,    &paths.lock};
    for (const std::string* value : values) {
        if (!IsAscii(*value)) {
            s += "\"%SYS%\\chcp.com\" 65001 >nul\r\n";
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
    s += SetLine("LOCK", paths.lock);
    s += SetLine("VER", ScriptVersion(paths.version));
    return s;
}

#define PAUSE_1S "\"%SYS%\\ping.exe\" -n 2 127.0.0.1 >nul\r\n"
#define PAUSE_2S "\"%SYS%\\ping.exe\" -n 3 127.0.0.1 >nul\r\n"

// Runs the subroutine `label` while holding the lock file open without sharing, so one
// script at a time works on this program's files; the lock is tried for about five
// seconds, then `busy` runs and the script ends. The program is started (LAUNCH set)
// only once the lock is let go: a program started inside would inherit the open lock
// and hold it for as long as it runs.
std::string Locked(const std::string& label, const std::string& busy, bool launches) {
    std::string s = "set /a LOCKTRIES=0\r\n";
    s += ":try_" + label + "\r\n";
    s += "set \"LOCKED=\"\r\n";
    s += "call :" + label + " 9>\"%LOCK%\"\r\n";
    s += "if defined LOCKED goto done_" + label + "\r\n";
    s += "set /a LOCKTRIES+=1\r\n";
    s += "if %LOCKTRIES% GEQ 5 goto busy_" + label + "\r\n";
    s += PAUSE_1S "goto try_" + label + "\r\n";
    s += ":busy_" + label + "\r\n" + busy + "goto quit\r\n";
    s += ":done_" + label + "\r\n";
    s += "del \"%LOCK%\" >nul 2>&1\r\n";
    if (launches)
        s += "if defined LAUNCH start \"\" \"%APP%\"\r\n"
             "set \"LAUNCH=\"\r\n";
    return s;
}

const char* const Quit = ":quit\r\n"
                         "del \"%~f0\" >nul 2>&1 & exit /b 0\r\n";

// The new program writes "running" into its marker and holds it without sharing until
// it passes, so the marker reads as nothing while it is on trial and as "running" once
// it has ended without passing, however it ended. A marker still "pending" after a
// while means the program never claimed it: when the program file is in use it runs
// all the same (its claim failed, or it was started otherwise) and is kept on trial for
// its next start; else it never started. Passed, the backup has done its work.
std::string WatchSection() {
    return std::string("set /a WAITED=0\r\n"
                       ":watching\r\n" PAUSE_1S "if not exist \"%TRIAL%\" goto kept\r\n"
                       "set \"STATE=\"\r\n"
                       "set /p STATE=<\"%TRIAL%\"\r\n"
                       "if \"%STATE%\"==\"passed\" goto kept\r\n"
                       "set \"WHY=%VER% ended before it came up\"\r\n"
                       "if \"%STATE%\"==\"running\" goto rollback\r\n"
                       "set \"WHY=%VER% did not come up in time\"\r\n"
                       "if \"%STATE%\"==\"timeout\" goto rollback\r\n"
                       "set /a WAITED+=1\r\n"
                       "if %WAITED% GEQ 180 goto rollback\r\n"
                       "if \"%STATE%\"==\"unwatched\" set \"STATE=pending\"\r\n"
                       "if not \"%STATE%\"==\"pending\" goto watching\r\n"
                       "if %WAITED% LSS ") +
           std::to_string(UnclaimedTrialSeconds) +
           " goto watching\r\n"
           "set \"FREE=\"\r\n"
           "call :free >>\"%APP%\"\r\n"
           "if not defined FREE goto unclaimed\r\n"
           "set \"WHY=%VER% did not start\"\r\n"
           "goto rollback\r\n"
           ":unclaimed\r\n"
           ">>\"%LOG%\" echo update trial: %VER% runs but did not claim its trial; it is kept, "
           "and its next start tries it\r\n"
           "goto watched\r\n"
           ":kept\r\n"
           "del \"%BAK%\" >nul 2>&1\r\n"
           "del \"%TRIAL%\" >nul 2>&1\r\n"
           "goto watched\r\n"
           ":rollback\r\n"
           "if not exist \"%BAK%\" goto lost\r\n"
           "set /a TRIES=0\r\n"
           ":restore\r\n"
           "move /Y \"%BAK%\" \"%APP%\" >nul 2>&1\r\n"
           "if not exist \"%BAK%\" goto restored\r\n"
           "set /a TRIES+=1\r\n"
           "if %TRIES% GEQ 60 goto lost\r\n" PAUSE_2S "goto restore\r\n"
           ":restored\r\n"
           "del \"%TRIAL%\" >nul 2>&1\r\n"
           ">\"%UNDONE%\" echo %VER%\r\n"
           ">>\"%LOG%\" echo update rolled back: %WHY%\r\n"
           "set \"LAUNCH=1\"\r\n"
           "goto watched\r\n"
           ":lost\r\n"
           "del \"%TRIAL%\" >nul 2>&1\r\n"
           ">>\"%LOG%\" echo update not rolled back: %WHY%, the backup could not be put back\r\n"
           "goto watched\r\n"
           // A redirection that cannot open the file skips the call: FREE stays unset.
           ":free\r\n"
           "set \"FREE=1\"\r\n"
           "exit /b 0\r\n";
}

const char* const BusyLog =
    ">>\"%LOG%\" echo update not applied: %VER%, another update is being put in place\r\n";

} // namespace

uint32_t UnclaimedTrialSeconds = 90;

std::string ScriptVersion(const std::string& version) {
    std::string word;
    for (char c : version) {
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
            c == '.' || c == '-' || c == '+' || c == '_')
            word += c;
    }
    return word.empty() ? std::string("(unknown)") : word.substr(0, 64);
}

std::string BuildSwapScript(const SwapScriptPaths& paths, bool restart) {
    std::string s = Header(paths);
    // A second script for the same program leaves everything of the first alone.
    s += Locked("swap",
                ">\"%MARK%\" echo busy\r\n"
                "del \"%NEW%\" >nul 2>&1\r\n" +
                    std::string(BusyLog),
                restart);
    if (restart)
        s += "if not defined WATCH goto quit\r\n" +
             Locked("watch",
                    ">>\"%LOG%\" echo update trial: %VER% not watched, another "
                    "update is being put in place\r\n",
                    true);
    s += Quit;
    s += ":swap\r\n"
         "set \"LOCKED=1\"\r\n"
         "echo started>\"%MARK%\"\r\n" PAUSE_2S "set /a TRIES=0\r\n"
         "set \"FRESH=\"\r\n"
         "if not exist \"%APP%\" set \"FRESH=1\"\r\n"
         "if defined FRESH goto replace\r\n"
         // While the installed program has not passed its own trial, the backup is
         // the last program known to work: it stays.
         "if not exist \"%TRIAL%\" goto backup\r\n"
         "set \"OLD=\"\r\n"
         "set /p OLD=<\"%TRIAL%\"\r\n"
         "if exist \"%BAK%\" if not \"%OLD%\"==\"passed\" goto replace\r\n"
         ":backup\r\n"
         "copy /Y \"%APP%\" \"%BAK%\" >nul 2>&1\r\n"
         "if errorlevel 1 goto again\r\n"
         "set \"ASIZE=\"\r\n"
         "set \"BSIZE=\"\r\n"
         "for %%F in (\"%APP%\") do set \"ASIZE=%%~zF\"\r\n"
         "for %%F in (\"%BAK%\") do set \"BSIZE=%%~zF\"\r\n"
         "if not \"%ASIZE%\"==\"%BSIZE%\" goto again\r\n"
         "goto replace\r\n"
         ":again\r\n"
         "set \"WHY=the backup could not be made\"\r\n"
         "set /a TRIES+=1\r\n"
         "if %TRIES% GEQ 60 goto giveup\r\n" PAUSE_2S "goto backup\r\n"
         ":replace\r\n"
         "set \"WHY=the new program is missing\"\r\n"
         "if not exist \"%NEW%\" goto giveup\r\n"
         "move /Y \"%NEW%\" \"%APP%\" >nul 2>&1\r\n"
         "if not exist \"%NEW%\" goto swapped\r\n"
         "set \"WHY=the program stayed in use\"\r\n"
         "set /a TRIES+=1\r\n"
         "if %TRIES% GEQ 60 goto giveup\r\n" PAUSE_2S "goto replace\r\n"
         ":giveup\r\n"
         "del \"%NEW%\" >nul 2>&1\r\n"
         "if not exist \"%APP%\" if exist \"%BAK%\" copy /Y \"%BAK%\" \"%APP%\" >nul 2>&1\r\n"
         ">>\"%LOG%\" echo update not applied: %VER%, %WHY%\r\n";
    if (restart)
        s += "set \"LAUNCH=1\"\r\n";
    s += "goto end\r\n"
         ":swapped\r\n"
         "set \"WHY=the program is missing after the swap\"\r\n"
         "if not exist \"%APP%\" goto giveup\r\n"
         // With nothing backed up there is nothing to go back to, so no trial.
         "if defined FRESH goto untried\r\n";
    // A marker that cannot be written leaves the new program without a trial.
    s += restart ? ">\"%TRIAL%\" echo pending\r\n" : ">\"%TRIAL%\" echo unwatched\r\n";
    s += "if not exist \"%TRIAL%\" goto untried\r\n";
    if (restart)
        s += "set \"LAUNCH=1\"\r\n"
             "set \"WATCH=1\"\r\n";
    s += "goto end\r\n"
         ":untried\r\n"
         "del \"%BAK%\" >nul 2>&1\r\n"
         "del \"%TRIAL%\" >nul 2>&1\r\n";
    if (restart)
        s += "set \"LAUNCH=1\"\r\n";
    s += ":end\r\n"
         "del \"%MARK%\" >nul 2>&1\r\n"
         "exit /b 0\r\n";
    if (restart)
        s += ":watch\r\n"
             "set \"LOCKED=1\"\r\n" +
             WatchSection() +
             ":watched\r\n"
             "exit /b 0\r\n";
    return s;
}

std::string BuildTrialScript(const SwapScriptPaths& paths) {
    return Header(paths) +
           Locked("watch",
                  ">>\"%LOG%\" echo update trial: %VER% not watched, another update "
                  "is being put in place\r\n",
                  true) +
           Quit + ":watch\r\nset \"LOCKED=1\"\r\n" + WatchSection() + ":watched\r\nexit /b 0\r\n";
}

bool StartHiddenScript(const std::wstring& script, HANDLE* process) {
    if (process)
        *process = nullptr;
    std::wstring system = SystemFolder();
    if (system.empty())
        return false;
    std::wstring cmd = JoinPath(system, L"cmd.exe");
    std::wstring line = L"\"" + cmd + L"\" /d /s /c \"\"" + script + L"\"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    // Started directly rather than through the shell, which may take seconds to return:
    // once CreateProcess has, the script runs even if this process dies the next moment.
    if (!CreateProcessW(cmd.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        system.c_str(), &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    if (process)
        *process = pi.hProcess;
    else
        CloseHandle(pi.hProcess);
    return true;
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
