#include "ota/update.h"

#include "base/files.h"
#include "base/globals.h"
#include "base/paths.h"
#include "base/text.h"
#include "ota/http_client.h"
#include "ota/swap_script.h"
#include "ota/verify.h"

#include <shellapi.h>

namespace {

const wchar_t* const UpdateMutexName = L"Local\\OVRA-Zirer-Update";

// Without a digest the only check left is that the file is a Windows executable.
bool StartsWithMz(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char head[2] = {};
    DWORD read = 0;
    BOOL ok = ReadFile(file, head, sizeof(head), &read, nullptr);
    CloseHandle(file);
    return ok && read == 2 && head[0] == 'M' && head[1] == 'Z';
}

void Call(const std::function<void()>& hook) {
    if (hook)
        hook();
}

UpdateOutcome RunLocked(const OtaCheckResult& result, bool restart, const UpdateReport& report) {
    UpdatePaths paths;
    if (!GetUpdatePaths(paths))
        return UpdateOutcome::DownloadFailed;

    Call(report.downloading);
    if (!DownloadToFile(result.url, paths.download, report.progress))
        return UpdateOutcome::DownloadFailed;
    if (result.sha256.empty() && !StartsWithMz(paths.download))
        return UpdateOutcome::DownloadFailed;

    Call(report.verifying);
    if (!result.sha256.empty() &&
        VerifyDigest(paths.download, result.sha256) != DigestCheck::Matched)
        return UpdateOutcome::DigestMismatch;

    std::string script = BuildSwapScript(WideToUtf8(ScriptSafePath(paths.download)),
                                         WideToUtf8(ScriptSafePath(ExePath)),
                                         WideToUtf8(ScriptSafePath(ExePath + L".bak")), restart);
    WriteTextFile(paths.script, script);
    Call(report.launching);
    ShellExecuteW(nullptr, L"open", paths.script.c_str(), nullptr, nullptr, SW_HIDE);
    return UpdateOutcome::Launched;
}

} // namespace

bool GetUpdatePaths(UpdatePaths& paths) {
    wchar_t temp[MAX_PATH + 1] = {};
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH)
        return false;
    paths.download = JoinPath(temp, L"OVRA-Zirer.new.exe");
    paths.script = JoinPath(temp, L"OVRA-Zirer.update.cmd");
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

UpdateOutcome RunUpdate(const OtaCheckResult& result, bool restart, const UpdateReport& report) {
    HANDLE lock = AcquireUpdateLock();
    if (!lock)
        return UpdateOutcome::AlreadyRunning;
    UpdateOutcome outcome = RunLocked(result, restart, report);
    ReleaseUpdateLock(lock);
    return outcome;
}
