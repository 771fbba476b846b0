#include <doctest/doctest.h>

// First: it brings the socket header, which must come before windows.h.
#include "update_fixtures.h"

#include "base/files.h"
#include "base/globals.h"
#include "base/paths.h"
#include "ota/ota_check.h"
#include "ota/trial.h"

#include <windows.h>

using namespace update_fixtures;

TEST_CASE("a pending trial is claimed by one start, held until it passes; an undone version is "
          "told once and not offered again") {
    ExePath = JoinPath(MakeFolder(L"trial 中文"), L"OVRA-Zirer.exe");
    std::wstring marker = TrialMarkerPath(ExePath);
    REQUIRE(WriteTextFile(marker, "pending\r\n"));
    REQUIRE(WriteTextFile(UndoneMarkerPath(ExePath), "1.0.5\r\n"));
    TrialMs = 600000;
    StartUpdateTrial();

    // Held without sharing: the watcher reads nothing and a second start claims nothing.
    HANDLE other = CreateFileW(marker.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    CHECK(other == INVALID_HANDLE_VALUE);
    CHECK(GetLastError() == ERROR_SHARING_VIOLATION);
    CHECK(UndoneUpdateVersion() == L"1.0.5");
    CHECK_FALSE(Exists(UndoneMarkerPath(ExePath)));

    ShowTrialPassed();
    CHECK(ReadFile(marker) == "passed\r\n");
    // A decided trial is the watcher's to clear, not a new one to start.
    StartUpdateTrial();
    CHECK(ReadFile(marker) == "passed\r\n");

    CHECK_FALSE(ReadManifest("{\"version\":\"1.0.5\",\"url\":\"http://u/a.exe\"}").available);
    CHECK(ReadManifest("{\"version\":\"1.0.6\",\"url\":\"http://u/a.exe\"}").available);
}
