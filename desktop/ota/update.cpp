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

// The script is started and then shows it runs; a command processor that is missing,
// blocked or ends at once is a failed update, not a launched one.
bool LaunchScript(const UpdatePaths& paths) {
    HANDLE process = nullptr;
    if (!StartHiddenScript(paths.script, &process))
        return false;
    ULONGLONG deadline = GetTickCount64() + ScriptStartMs;
    while (!FileExists(paths.started) && GetTickCount64() <= deadline) {
        if (!process)
            Sleep(50);
        else if (WaitForSingleObject(process, 50) == WAIT_OBJECT_0)
            break; // ended: the look below tells whether it wrote the mark first
    }
    if (process)
        CloseHandle(process);
    return FileExists(paths.started);
}

void Remove(const std::wstring& path) {
    DeleteFileW(path.c_str());
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
    script.staged = WideToUtf8(ScriptSafePath(paths.staged));
    script.app = WideToUtf8(ScriptSafePath(ExePath));
    script.backup = WideToUtf8(ScriptSafePath(ExePath + L".bak"));
    script.started = WideToUtf8(ScriptSafePath(paths.started));
    SetTrialPaths(ExePath, result.version, script);
    if (!WriteTextFile(paths.script, BuildSwapScript(script, restart)))
        return Failed(UpdateOutcome::NotApplied, paths, L"cannot write the update script");
    RunHook(report.launching);
    if (!LaunchScript(paths))
        return Failed(UpdateOutcome::NotApplied, paths, L"the update script could not be started");
    return UpdateResult{UpdateOutcome::Launched, {}};
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
        return L"another update is already running";
    case UpdateOutcome::WrongVersion:
    case UpdateOutcome::NotApplied:
        return L"update failed: " + result.detail;
    case UpdateOutcome::Launched:
        break;
    }
    return std::wstring();
}
