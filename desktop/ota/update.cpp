#include "ota/update.h"

#include "base/files.h"
#include "base/globals.h"
#include "base/paths.h"
#include "base/text.h"
#include "ota/http_client.h"
#include "ota/ota_log.h"
#include "ota/processes.h"
#include "ota/program_check.h"
#include "ota/sha256.h"
#include "ota/swap_script.h"
#include "ota/trial.h"
#include "ota/verify.h"

#include <objbase.h>

uint32_t VersionCheckMs = 30000;
uint32_t ScriptStartMs = 20000;

namespace {

const wchar_t* const UpdateMutexName = L"Local\\OVRA-Zirer-Update";

std::wstring NewRunId() {
    GUID guid = {};
    wchar_t text[40] = {};
    if (FAILED(CoCreateGuid(&guid)) || StringFromGUID2(guid, text, 40) == 0)
        return std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64());
    std::wstring id(text);
    return id.substr(1, id.size() - 2); // without the braces
}

void RunHook(const std::function<void()>& hook) {
    if (hook)
        hook();
}

std::wstring FolderOf(const std::wstring& path) {
    size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring(L".") : path.substr(0, cut);
}

// Taking the staged name now proves, before anything is downloaded, that the program's
// folder can take the new program.
bool ReserveStaged(const std::wstring& staged) {
    HANDLE file = CreateFileW(staged.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

// Copies the checked download beside the program and reads the copy back, so the
// script only ever renames a complete file.
bool Stage(const std::wstring& download, const std::wstring& staged) {
    if (!CopyFileW(download.c_str(), staged.c_str(), FALSE))
        return false;
    std::wstring want = Sha256OfFile(download);
    return !want.empty() && want == Sha256OfFile(staged);
}

std::string FirstWord(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string word = ReadLeadingWord(file);
    CloseHandle(file);
    return word;
}

enum class Launch { Started, Busy, Failed };

// The script is started and then shows it runs; a command processor that is missing,
// blocked or ends at once is a failed update, not a launched one. A script that found
// another one at work on the program says so instead.
Launch LaunchScript(const UpdatePaths& paths) {
    HANDLE process = nullptr;
    if (!StartHiddenScript(paths.script, &process))
        return Launch::Failed;
    ULONGLONG deadline = GetTickCount64() + ScriptStartMs;
    while (!FileExists(paths.started) && GetTickCount64() <= deadline) {
        if (!process)
            Sleep(50);
        else if (WaitForSingleObject(process, 50) == WAIT_OBJECT_0)
            break; // ended: the look below tells whether it wrote the mark first
    }
    if (process)
        CloseHandle(process);
    if (!FileExists(paths.started))
        return Launch::Failed;
    // "busy" is written whole before the script ends; "started" may be read half-written.
    for (int i = 0; i < 20 && FirstWord(paths.started).empty(); ++i)
        Sleep(50);
    return FirstWord(paths.started) == "busy" ? Launch::Busy : Launch::Started;
}

void Remove(const std::wstring& path) {
    DeleteFileW(path.c_str());
}

std::wstring FileNameOf(const std::wstring& path) {
    size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

// Removes the files in `folder` whose names match `pattern` (wildcards as FindFirstFile).
void RemoveMatching(const std::wstring& folder, const std::wstring& pattern) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(JoinPath(folder, pattern).c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            Remove(JoinPath(folder, found.cFileName));
    } while (FindNextFileW(find, &found));
    FindClose(find);
}

UpdateResult Failed(UpdateOutcome outcome, const UpdatePaths& paths, std::wstring detail = {}) {
    Remove(paths.download);
    Remove(paths.staged);
    // A script that starts late finds no staged file and changes nothing.
    Remove(paths.script);
    Remove(paths.started);
    return UpdateResult{outcome, detail};
}

UpdateResult RunLocked(const OtaCheckResult& result, bool restart, const UpdateReport& report) {
    // The script of an earlier update may still be at work on the program (waiting for
    // it to end, or watching its trial).
    if (ScriptRunning(ExePath))
        return UpdateResult{UpdateOutcome::AlreadyRunning, {}};
    UpdatePaths paths;
    if (!GetUpdatePaths(ExePath, paths))
        return UpdateResult{UpdateOutcome::NotApplied, L"the temporary folder is unknown"};
    if (!ReserveStaged(paths.staged))
        return UpdateResult{UpdateOutcome::NotApplied,
                            L"cannot write to the program folder " + FolderOf(ExePath)};

    RunHook(report.downloading);
    // A body without a length (or a cut chunked one, which some WinINets end quietly)
    // is only known whole once the image has been checked, so 100 waits for that.
    int held100 = 0;
    auto progress = [&report, &held100](int pct) {
        if (pct == 100)
            ++held100;
        else if (report.progress)
            report.progress(pct);
    };
    if (!DownloadToFile(result.url, paths.download, progress))
        return Failed(UpdateOutcome::DownloadFailed, paths);
    // A cut-off executable is a broken transfer whatever the manifest says; without a
    // digest, anything but a whole executable is refused too.
    ImageCheck image = CheckImageFile(paths.download);
    if (image == ImageCheck::Truncated || (image != ImageCheck::Complete && result.sha256.empty()))
        return Failed(UpdateOutcome::DownloadFailed, paths);
    for (; held100 > 0 && report.progress; --held100)
        report.progress(100);

    RunHook(report.verifying);
    if (!result.sha256.empty() &&
        VerifyDigest(paths.download, result.sha256) != DigestCheck::Matched)
        return Failed(UpdateOutcome::DigestMismatch, paths);

    std::string reported = ReportedVersion(paths.download, VersionCheckMs);
    if (reported != WideToUtf8(result.version))
        return Failed(UpdateOutcome::WrongVersion, paths,
                      L"the downloaded program reports version \"" +
                          Utf8ToWide(LogValue(Utf8ToWide(reported))) + L"\", not " +
                          Utf8ToWide(LogValue(result.version)));

    if (!Stage(paths.download, paths.staged))
        return Failed(UpdateOutcome::NotApplied, paths,
                      L"cannot place the new program in " + FolderOf(ExePath));
    Remove(paths.download);

    SwapScriptPaths script;
    SetScriptPaths(ExePath, result.version, script);
    script.staged = WideToUtf8(ScriptSafePath(paths.staged));
    script.started = WideToUtf8(ScriptSafePath(paths.started));
    if (!WriteTextFile(paths.script, BuildSwapScript(script, restart)))
        return Failed(UpdateOutcome::NotApplied, paths, L"cannot write the update script");
    RunHook(report.launching);
    switch (LaunchScript(paths)) {
    case Launch::Started:
        return UpdateResult{UpdateOutcome::Launched, {}};
    case Launch::Busy:
        return Failed(UpdateOutcome::AlreadyRunning, paths);
    case Launch::Failed:
        break;
    }
    return Failed(UpdateOutcome::NotApplied, paths, L"the update script could not be started");
}

} // namespace

bool GetUpdatePaths(const std::wstring& appPath, UpdatePaths& paths) {
    wchar_t temp[MAX_PATH + 1] = {};
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH)
        return false;
    std::wstring id = NewRunId();
    paths.download = JoinPath(temp, L"OVRA-Zirer." + id + L".new.exe");
    paths.script = JoinPath(temp, L"OVRA-Zirer." + id + L".update.cmd");
    paths.started = paths.script + L".started";
    paths.staged = appPath + L"." + id + L".new";
    return true;
}

HANDLE AcquireUpdateLock() {
    HANDLE lock = CreateMutexW(nullptr, FALSE, UpdateMutexName);
    if (!lock)
        return nullptr;
    DWORD wait = WaitForSingleObject(lock, 0);
    // An abandoned lock belonged to a process that died mid-update; it is ours now.
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
        return lock;
    CloseHandle(lock);
    return nullptr;
}

void ReleaseUpdateLock(HANDLE lock) {
    if (!lock)
        return;
    ReleaseMutex(lock);
    CloseHandle(lock);
}

std::wstring ScriptLockPath(const std::wstring& app) {
    return app + L".lock";
}

bool ScriptRunning(const std::wstring& app, uint32_t ms) {
    std::wstring lock = ScriptLockPath(app);
    ULONGLONG deadline = GetTickCount64() + ms;
    for (;;) {
        // Writing is what the script's open does not share.
        HANDLE file = CreateFileW(lock.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        else if (GetLastError() == ERROR_SHARING_VIOLATION)
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(100);
    }
}

void RemoveUpdateLeftovers() {
    HANDLE lock = AcquireUpdateLock();
    if (!lock)
        return;
    if (!ScriptRunning(ExePath)) {
        DeleteFileW(ScriptLockPath(ExePath).c_str());
        RemoveMatching(FolderOf(ExePath), FileNameOf(ExePath) + L".*.new");
        wchar_t temp[MAX_PATH + 1] = {};
        DWORD n = GetTempPathW(MAX_PATH + 1, temp);
        // No update holds the lock, so no download in the session is under way.
        if (n > 0 && n <= MAX_PATH)
            RemoveMatching(temp, L"OVRA-Zirer.*.new.exe");
    }
    ReleaseUpdateLock(lock);
}

UpdateResult RunUpdate(const OtaCheckResult& result, bool restart, const UpdateReport& report) {
    HANDLE lock = AcquireUpdateLock();
    if (!lock)
        return UpdateResult{UpdateOutcome::AlreadyRunning, {}};
    UpdateResult outcome = RunLocked(result, restart, report);
    ReleaseUpdateLock(lock);
    return outcome;
}

std::wstring UpdateFailureMessage(const UpdateResult& result) {
    switch (result.outcome) {
    case UpdateOutcome::DownloadFailed:
        return L"download failed";
    case UpdateOutcome::DigestMismatch:
        return L"sha256 mismatch";
    case UpdateOutcome::AlreadyRunning:
        return L"升级正在进行";
    case UpdateOutcome::WrongVersion:
    case UpdateOutcome::NotApplied:
        return L"update failed: " + result.detail;
    case UpdateOutcome::Launched:
        break;
    }
    return std::wstring();
}
