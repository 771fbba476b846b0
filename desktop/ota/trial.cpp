#include "ota/trial.h"

#include "base/files.h"
#include "base/globals.h"
#include "base/paths.h"
#include "base/text.h"
#include "ota/ota_log.h"
#include "ota/update.h"

#include <windows.h>

#include <mutex>
#include <string>
#include <system_error>
#include <thread>

uint32_t TrialMs = 60000;

namespace {

std::mutex TrialLock;
HANDLE HeldTrialMarker = INVALID_HANDLE_VALUE; // held without sharing while on trial
HANDLE PassedEvent = nullptr;
std::wstring UndoneVersion;

std::string ReadWord(HANDLE file) {
    char buffer[64] = {};
    DWORD read = 0;
    if (!ReadFile(file, buffer, sizeof(buffer) - 1, &read, nullptr))
        return std::string();
    std::string word(buffer, read);
    while (!word.empty() && static_cast<unsigned char>(word.back()) <= ' ')
        word.pop_back();
    return word;
}

// A whole line: Wine's `set /p` drops the last character of a last line without a break.
bool WriteMarkerWord(HANDLE file, const char* word) {
    LARGE_INTEGER start = {};
    std::string line = std::string(word) + "\r\n";
    DWORD length = static_cast<DWORD>(line.size());
    DWORD written = 0;
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) &&
           WriteFile(file, line.data(), length, &written, nullptr) && written == length &&
           SetEndOfFile(file) && FlushFileBuffers(file);
}

// Ends a trial: the word for the watcher when it can be written, else no marker at all,
// which the watcher takes as passed.
void CloseMarkerWith(HANDLE file, const char* word) {
    bool written = WriteMarkerWord(file, word);
    CloseHandle(file);
    if (!written)
        DeleteFileW(TrialMarkerPath(ExePath).c_str());
}

void TakeUndone() {
    std::wstring path = UndoneMarkerPath(ExePath);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string version = ReadWord(file);
    CloseHandle(file);
    // Told once: a marker that stays would tell every later start again.
    if (DeleteFileW(path.c_str()) && !version.empty())
        UndoneVersion = Utf8ToWide(version);
}

bool StartWatcher() {
    UpdatePaths paths;
    if (!GetUpdatePaths(ExePath, paths))
        return false;
    SwapScriptPaths script;
    script.app = WideToUtf8(ScriptSafePath(ExePath));
    script.backup = WideToUtf8(ScriptSafePath(ExePath + L".bak"));
    SetTrialPaths(ExePath, AppVersion, script);
    if (!WriteTextFile(paths.script, BuildTrialScript(script)))
        return false;
    // Started directly rather than through the shell, which may take seconds to return:
    // once CreateProcess has, the watcher runs even if this process dies the next moment.
    wchar_t system[MAX_PATH] = {};
    UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return false;
    std::wstring cmd = JoinPath(system, L"cmd.exe");
    std::wstring line = L"\"" + cmd + L"\" /s /c \"\"" + paths.script + L"\"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(cmd.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

void GiveUpIfNotPassed() {
    if (WaitForSingleObject(PassedEvent, TrialMs) != WAIT_TIMEOUT)
        return;
    std::lock_guard<std::mutex> guard(TrialLock);
    if (HeldTrialMarker == INVALID_HANDLE_VALUE)
        return;
    OtaLog("update trial: " + WideToUtf8(AppVersion) + " did not come up in time");
    // The watcher rolls back once this process has let go of the program file.
    WriteMarkerWord(HeldTrialMarker, "timeout");
    TerminateProcess(GetCurrentProcess(), 1);
}

} // namespace

std::wstring TrialMarkerPath(const std::wstring& app) {
    return app + L".trial";
}

std::wstring UndoneMarkerPath(const std::wstring& app) {
    return app + L".undone";
}

void SetTrialPaths(const std::wstring& app, const std::wstring& version, SwapScriptPaths& paths) {
    paths.trial = WideToUtf8(ScriptSafePath(TrialMarkerPath(app)));
    paths.undone = WideToUtf8(ScriptSafePath(UndoneMarkerPath(app)));
    paths.log = WideToUtf8(ScriptSafePath(OtaLogPath()));
    paths.version = WideToUtf8(version);
}

void StartUpdateTrial() {
    TakeUndone();
    // No sharing: a second start at the same moment cannot claim it too.
    HANDLE file = CreateFileW(TrialMarkerPath(ExePath).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string state = ReadWord(file);
    if (state != "pending" && state != "unwatched") {
        CloseHandle(file); // a trial already decided: the watcher's to clear
        return;
    }
    // The watcher first: should this process die before it marks the trial running, the
    // watcher finds it never started.
    if ((state == "unwatched" && !StartWatcher()) || !WriteMarkerWord(file, "running")) {
        // No marker counts as passed for a watcher, and leaves nothing stale without one.
        CloseHandle(file);
        DeleteFileW(TrialMarkerPath(ExePath).c_str());
        return;
    }
    OtaLog("update trial: " + WideToUtf8(AppVersion) + " started");
    std::lock_guard<std::mutex> guard(TrialLock);
    HeldTrialMarker = file;
    PassedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    try {
        if (PassedEvent)
            std::thread(GiveUpIfNotPassed).detach();
    } catch (const std::system_error&) {
        // Without the time limit a program that ends still fails its trial.
    }
}

void ShowTrialPassed() {
    std::lock_guard<std::mutex> guard(TrialLock);
    if (HeldTrialMarker == INVALID_HANDLE_VALUE)
        return;
    CloseMarkerWith(HeldTrialMarker, "passed");
    HeldTrialMarker = INVALID_HANDLE_VALUE;
    SetEvent(PassedEvent);
    OtaLog("update trial: " + WideToUtf8(AppVersion) + " passed");
}

std::wstring UndoneUpdateVersion() {
    return UndoneVersion;
}
