#include <doctest/doctest.h>

// First: it brings the socket header, which must come before windows.h.
#include "update_fixtures.h"

#include "base/files.h"
#include "base/globals.h"
#include "base/paths.h"
#include "ota/ota_check.h"
#include "ota/ota_log.h"
#include "ota/swap_script.h"
#include "ota/trial.h"
#include "ota/update.h"

#include <windows.h>

#include <thread>

using namespace update_fixtures;

namespace {

// Holds `path` as a script's redirection does: open for writing, shared for reading only.
HANDLE HoldAsScript(const std::wstring& path) {
    HANDLE held = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(held != INVALID_HANDLE_VALUE);
    return held;
}

size_t LogMark() {
    return ReadFile(OtaLogPath()).size();
}

std::string LogSince(size_t mark) {
    return ReadFile(OtaLogPath()).substr(mark);
}

bool HeldByUs(const std::wstring& marker) {
    HANDLE other = CreateFileW(marker.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (other != INVALID_HANDLE_VALUE)
        CloseHandle(other);
    return other == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
}

} // namespace

TEST_CASE("a pending trial is claimed by one start, also during the watcher's read, held until it "
          "passes; an undone version is told once and not offered again") {
    ExePath = JoinPath(MakeFolder(L"trial 中文"), L"OVRA-Zirer.exe");
    std::wstring marker = TrialMarkerPath(ExePath);
    REQUIRE(WriteTextFile(marker, "pending\r\n"));
    REQUIRE(WriteTextFile(BackupPath(ExePath), "old build"));
    REQUIRE(WriteTextFile(UndoneMarkerPath(ExePath), "1.0.5\r\n"));
    TrialMs = 600000;
    // Its watcher is alive, and reading the marker at the moment of the claim.
    HANDLE watcher = HoldAsScript(ScriptLockPath(ExePath));
    HANDLE reading = CreateFileW(marker.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(reading != INVALID_HANDLE_VALUE);
    std::thread read([reading] {
        Sleep(1500);
        CloseHandle(reading);
    });
    size_t mark = LogMark();
    StartUpdateTrial();
    read.join();

    // Held without sharing: the watcher reads nothing and a second start claims nothing.
    CHECK(HeldByUs(marker));
    CHECK(LogSince(mark) == "update trial: 1.0.4 started\r\n");
    CHECK(UndoneUpdateVersion() == L"1.0.5");
    CHECK_FALSE(Exists(UndoneMarkerPath(ExePath)));

    ShowTrialPassed();
    CHECK(ReadFile(marker) == "passed\r\n");
    // Decided while its watcher runs: the watcher clears it.
    StartUpdateTrial();
    CHECK(ReadFile(marker) == "passed\r\n");
    CHECK(Exists(BackupPath(ExePath)));
    // Its watcher gone, the next start removes what the trial left.
    CloseHandle(watcher);
    StartUpdateTrial();
    CHECK_FALSE(Exists(marker));
    CHECK_FALSE(Exists(BackupPath(ExePath)));

    CHECK_FALSE(ReadManifest("{\"version\":\"1.0.5\",\"url\":\"http://u/a.exe\"}").available);
    CHECK(ReadManifest("{\"version\":\"1.0.6\",\"url\":\"http://u/a.exe\"}").available);
}

TEST_CASE("a trial whose watcher has gone gets a watcher of its own, or is dropped") {
    ExePath = JoinPath(MakeFolder(L"stale"), L"OVRA-Zirer.exe");
    std::wstring marker = TrialMarkerPath(ExePath);
    REQUIRE(WriteTextFile(ExePath, "new build"));
    REQUIRE(WriteTextFile(BackupPath(ExePath), "old build"));
    REQUIRE(WriteTextFile(marker, "pending\r\n"));
    size_t mark = LogMark();
    StartUpdateTrial();
    CHECK(LogSince(mark) == "update trial: 1.0.4 (pending) had lost its watcher; watched anew\r\n"
                            "update trial: 1.0.4 started\r\n");
    CHECK(HeldByUs(marker));
    CHECK(ScriptRunning(ExePath, 10000));
    // The new watcher keeps the program once it passes, and the backup has done its work.
    ShowTrialPassed();
    for (int i = 0; i < 200 && Exists(BackupPath(ExePath)); ++i)
        Sleep(100);
    CHECK_FALSE(Exists(BackupPath(ExePath)));
    CHECK_FALSE(Exists(marker));
    CHECK(ReadFile(ExePath) == "new build");
    for (int i = 0; i < 100 && ScriptRunning(ExePath); ++i)
        Sleep(100);

    // Nothing to go back to: no trial.
    REQUIRE(WriteTextFile(marker, "timeout\r\n"));
    mark = LogMark();
    StartUpdateTrial();
    CHECK(LogSince(mark) == "update trial: 1.0.4 dropped: there is no backup to go back to\r\n");
    CHECK_FALSE(Exists(marker));
}

TEST_CASE("an undone version is compared as the script wrote it") {
    ExePath = JoinPath(MakeFolder(L"undone"), L"OVRA-Zirer.exe");
    REQUIRE(WriteTextFile(UndoneMarkerPath(ExePath), ScriptVersion("1.0.6 (rc)") + "\r\n"));
    StartUpdateTrial();
    CHECK_FALSE(ReadManifest("{\"version\":\"1.0.6 (rc)\",\"url\":\"http://u/a.exe\"}").available);
    CHECK(ReadManifest("{\"version\":\"1.0.7\",\"url\":\"http://u/a.exe\"}").available);
}
