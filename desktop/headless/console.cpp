#include "headless/console.h"

#include "base/globals.h"
#include "base/paths.h"
#include "base/text.h"
#include "ota/ota_check.h"
#include "ota/ota_log.h"
#include "ota/update.h"

#include <objbase.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

// Exit codes beyond the documented ones: another update held the lock, the download
// reports another version, the update could not be put in place, and a manifest that
// a build with a signing key refused (either command).
const int AlreadyRunningCode = 4;
const int WrongVersionCode = 5;
const int NotAppliedCode = 6;
const int ManifestRefusedCode = 7;

// Manifest values on the console: one line each, whatever they hold.
std::string ConsoleValue(const std::wstring& value) {
    return OneLine(value, static_cast<size_t>(-1));
}

// Lines go out at once so a parent reading the pipe sees them as they happen.
void Print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fflush(stdout);
}

// The version goes out twice on purpose: once through the wide-character stream and
// once as UTF-8 bytes. Callers read it either way (a console decoding wide output, a
// script reading the pipe as bytes), and each finds a line it can read.
int PrintVersion() {
    std::wprintf(L"%ls\n", AppVersion);
    std::fputs(WideToUtf8(AppVersion).c_str(), stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
    return 0;
}

int PrintCheck(const OtaCheckResult& r) {
    Print("local=%s\n", WideToUtf8(AppVersion).c_str());
    Print("remote=%s\n", ConsoleValue(r.version).c_str());
    Print("available=%s\n", r.available ? "true" : "false");
    Print("url=%s\n", ConsoleValue(r.url).c_str());
    Print("sha256=%s\n", ConsoleValue(r.sha256).c_str());
    Print("notes=%s\n", ConsoleValue(r.notes).c_str());
    if (!r.refused.empty()) {
        Print("%s\n", WideToUtf8(RefusalMessage(r)).c_str());
        return ManifestRefusedCode;
    }
    return r.available ? 10 : 0;
}

int ApplyFromConsole(const OtaCheckResult& r) {
    if (!r.refused.empty()) {
        Print("%s, nothing was downloaded\n", WideToUtf8(RefusalMessage(r)).c_str());
        return ManifestRefusedCode;
    }
    if (!r.available) {
        Print("noop: no update available\n");
        return 0;
    }
    Print("upgrading %s -> %s\n", WideToUtf8(AppVersion).c_str(), ConsoleValue(r.version).c_str());

    UpdateReport report;
    report.downloading = [&r] { OtaLog("download " + LogValue(r.url)); };
    report.progress = PrintDownloadProgress;
    report.verifying = [] { OtaLog("verify sha256"); };
    UpdateResult result = RunUpdate(r, false, report);
    std::string failure = ConsoleValue(UpdateFailureMessage(result));
    switch (result.outcome) {
    case UpdateOutcome::Launched:
        Print("update script launched, app will be replaced\n");
        OtaLog("update script launched");
        return 0;
    case UpdateOutcome::DownloadFailed:
        Print("download failed\n");
        OtaLog("download failed");
        return 2;
    case UpdateOutcome::DigestMismatch:
        Print("sha256 mismatch\n");
        OtaLog("sha256 mismatch");
        return 3;
    case UpdateOutcome::AlreadyRunning:
        Print("another update is in progress, nothing was changed\n");
        OtaLog("update refused: another update is in progress");
        return AlreadyRunningCode;
    case UpdateOutcome::WrongVersion:
    case UpdateOutcome::NotApplied:
        Print("%s, nothing was changed\n", failure.c_str());
        OtaLog(failure);
        return result.outcome == UpdateOutcome::WrongVersion ? WrongVersionCode : NotAppliedCode;
    }
    return NotAppliedCode;
}

// Nothing thrown (a failed allocation, say) may end the process unreported.
template <typename Command> int ExitCodeCatchingAll(Command command) {
    try {
        return command();
    } catch (...) {
        Print("update failed: internal error, nothing was changed\n");
        OtaLog("update failed: internal error");
        return NotAppliedCode;
    }
}

int Dispatch(const wchar_t* mode) {
    SetExePaths();
    OtaLog("headless mode=" + WideToUtf8(mode) + " exe=" + WideToUtf8(ExePath));
    if (std::wcscmp(mode, L"--version") == 0)
        return PrintVersion();
    if (std::wcscmp(mode, L"--check-ota") == 0)
        return ExitCodeCatchingAll([] { return PrintCheck(CheckOta()); });
    if (std::wcscmp(mode, L"--apply-ota") == 0)
        return ExitCodeCatchingAll([] { return ApplyFromConsole(CheckOta()); });
    Print("usage: OVRA-Zirer.exe [--version|--check-ota|--apply-ota|--smoke]\n");
    return 1;
}

} // namespace

void PrintDownloadProgress(int pct) {
    if (pct % 20 == 0)
        Print("download %d%%\n", pct);
}

int RunConsoleCommand(const wchar_t* mode) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int code = Dispatch(mode ? mode : L"");
    CoUninitialize();
    return code;
}
