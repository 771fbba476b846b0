#include "ota/trial.h"

#include "base/files.h"
#include "base/globals.h"
#include "base/paths.h"
#include "base/text.h"
#include "ota/ota_log.h"
#include "ota/processes.h"
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
    std::string version = ReadLeadingWord(file);
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
    SetScriptPaths(ExePath, AppVersion, script);
    return WriteTextFile(paths.script, BuildTrialScript(script)) &&
           StartHiddenScript(paths.script, nullptr);
}

// The watcher reads the marker about once a second; a claim that meets a read waits it out.
HANDLE ClaimMarker() {
    std::wstring path = TrialMarkerPath(ExePath);
    ULONGLONG deadline = GetTickCount64() + 5000;
    for (;;) {
        // No sharing: a second start at the same moment cannot claim it too.
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION ||
            GetTickCount64() >= deadline)
            return file;
        Sleep(50);
    }
}

// Ends a trial that nobody can watch: without a marker the program counts as passed.
void DropTrial(HANDLE file, const std::string& why) {
    CloseHandle(file);
    DeleteFileW(TrialMarkerPath(ExePath).c_str());
    if (!why.empty())
        OtaLog("update trial: " + WideToUtf8(AppVersion) + " dropped: " + why);
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

std::wstring BackupPath(const std::wstring& app) {
    return app + L".bak";
}

void SetScriptPaths(const std::wstring& app, const std::wstring& version, SwapScriptPaths& paths) {
    auto safe = [](const std::wstring& path) { return WideToUtf8(ScriptSafePath(path)); };
    paths.app = safe(app);
    paths.backup = safe(BackupPath(app));
    paths.trial = safe(TrialMarkerPath(app));
    paths.undone = safe(UndoneMarkerPath(app));
    paths.log = safe(OtaLogPath());
    paths.lock = safe(ScriptLockPath(app));
    paths.system = safe(SystemFolder());
    paths.version = WideToUtf8(version);
}

void StartUpdateTrial() {
    TakeUndone();
    HANDLE file = ClaimMarker();
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string state = ReadLeadingWord(file);
    std::string version = WideToUtf8(AppVersion);
    bool undecided = state == "pending" || state == "unwatched";
    bool failed = state == "running" || state == "timeout";
    // The swap script lets go of its lock for a moment to start this program.
    bool watched = state != "unwatched" && ScriptRunning(ExePath, state == "pending" ? 3000 : 0);
    if (watched && state != "pending") {
        CloseHandle(file); // decided while its watcher runs: the watcher's to act on
        return;
    }
    if (!undecided && !failed) {
        // Passed, or nothing we wrote: only the trial's leftovers remain.
        if (state == "passed")
            DeleteFileW(BackupPath(ExePath).c_str());
        DropTrial(file, std::string());
        return;
    }
    if (!watched) {
        // Nobody watches: a watcher of our own, else no trial at all.
        if (!FileExists(BackupPath(ExePath)))
            return DropTrial(file, "there is no backup to go back to");
        if (state != "unwatched")
            OtaLog("update trial: " + version + " (" + state +
                   ") had lost its watcher; watched anew");
        // The watcher first: should this process die before it marks the trial running,
        // the watcher finds it never started.
        if (!StartWatcher())
            return DropTrial(file, "no watcher could be started");
    }
    if (!WriteMarkerWord(file, "running")) {
        // No marker counts as passed for a watcher, and leaves nothing stale without one.
        DropTrial(file, std::string());
        return;
    }
    OtaLog("update trial: " + version + " started");
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
