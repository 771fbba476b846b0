#include <doctest/doctest.h>

// First: it brings the socket header, which must come before windows.h.
#include "update_fixtures.h"

#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"
#include "ota/swap_script.h"

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <thread>

using namespace update_fixtures;

namespace {

struct SwapFiles {
    std::wstring dir, staged, app, backup, started, script, trial;
};

SwapFiles PrepareSwap(const std::wstring& folderName, bool restart = false) {
    SwapFiles f;
    f.dir = MakeFolder(folderName);
    f.staged = JoinPath(f.dir, L"OVRA-Zirer.exe.1234.new");
    f.app = JoinPath(f.dir, L"OVRA-Zirer.exe");
    f.backup = f.app + L".bak";
    f.script = JoinPath(MakeFolder(L"script"), L"update.cmd");
    f.started = f.script + L".started";
    f.trial = f.app + L".trial";
    REQUIRE(WriteTextFile(f.staged, "new build"));
    REQUIRE(WriteTextFile(f.app, "old build"));
    SwapScriptPaths paths;
    paths.staged = WideToUtf8(ScriptSafePath(f.staged));
    paths.app = WideToUtf8(ScriptSafePath(f.app));
    paths.backup = WideToUtf8(ScriptSafePath(f.backup));
    paths.started = WideToUtf8(ScriptSafePath(f.started));
    paths.trial = WideToUtf8(ScriptSafePath(f.trial));
    REQUIRE(WriteTextFile(f.script, BuildSwapScript(paths, restart)));
    return f;
}

void WaitUntil(const std::wstring& path, int ms) {
    for (int waited = 0; waited < ms && !Exists(path); waited += 50)
        Sleep(50);
}

std::string Trimmed(std::string text) {
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.pop_back();
    return text;
}

// A program just swapped in and on trial, watched by its script; the old program in the
// backup is a small one that starts and ends at once.
struct TrialFiles {
    std::wstring app, backup, trial, undone, log, script, oldProgram;
};

TrialFiles PrepareTrial(const std::wstring& folderName, const char* state) {
    TrialFiles f;
    std::wstring dir = MakeFolder(folderName);
    f.app = JoinPath(dir, L"OVRA-Zirer.exe");
    f.backup = f.app + L".bak";
    f.trial = f.app + L".trial";
    f.undone = f.app + L".undone";
    f.log = JoinPath(dir, L"ota.log");
    f.script = JoinPath(MakeFolder(L"watch"), L"trial.cmd");
    std::wstring exe = ModulePath();
    f.oldProgram = JoinPath(exe.substr(0, exe.find_last_of(L'\\')), L"blocked_cmd.exe");
    REQUIRE(WriteTextFile(f.app, "new build"));
    REQUIRE(CopyFileW(f.oldProgram.c_str(), f.backup.c_str(), FALSE));
    if (state)
        REQUIRE(WriteTextFile(f.trial, std::string(state) + "\r\n"));
    auto safe = [](const std::wstring& path) { return WideToUtf8(ScriptSafePath(path)); };
    SwapScriptPaths paths{
        "", safe(f.app), safe(f.backup), "", safe(f.trial), safe(f.undone), safe(f.log), "1.0.5"};
    REQUIRE(WriteTextFile(f.script, BuildTrialScript(paths)));
    return f;
}

void CheckRolledBack(const TrialFiles& f, const std::string& why) {
    CHECK(ReadFile(f.app) == ReadFile(f.oldProgram));
    CHECK_FALSE(Exists(f.backup));
    CHECK_FALSE(Exists(f.trial));
    CHECK(Trimmed(ReadFile(f.undone)) == "1.0.5");
    CHECK(ReadFile(f.log) == "update rolled back: 1.0.5 " + why + "\r\n");
}

// The script waits while `held` is held, and rolls back once it is let go.
void RollBackOnceReleased(const TrialFiles& f, HANDLE held, DWORD holdMs) {
    HANDLE script = StartScript(f.script);
    CHECK(WaitForSingleObject(script, holdMs) == WAIT_TIMEOUT);
    CHECK(ReadFile(f.app) == "new build");
    CloseHandle(held);
    CHECK(WaitForSingleObject(script, 60000) == WAIT_OBJECT_0);
    CloseHandle(script);
    CheckRolledBack(f, "ended before it came up");
}

} // namespace

TEST_CASE("swap script text: quoted values, no delayed expansion, a rename, restart line") {
    SwapScriptPaths p{"C:\\A\\a.exe.1.new", "C:\\50% & (x)^!\\a.exe", "C:\\b.bak", "C:\\T\\m"};
    std::string s = BuildSwapScript(p, true);
    CHECK(s.rfind(
              "@echo off\r\nsetlocal DisableDelayedExpansion\r\nset \"NEW=C:\\A\\a.exe.1.new\"\r\n",
              0) == 0);
    CHECK(s.find("set \"APP=C:\\50%% & (x)^!\\a.exe\"\r\n") != std::string::npos);
    CHECK(s.find("chcp") == std::string::npos);
    // The program is only ever renamed over, never written into.
    CHECK(s.find("move /Y \"%NEW%\" \"%APP%\"") != std::string::npos);
    CHECK(s.find("copy /Y \"%NEW%\"") == std::string::npos);
    CHECK(s.find("echo started>\"%MARK%\"") < s.find("ping"));
    CHECK(s.find("start \"\" \"%APP%\"\r\n") != std::string::npos);
    for (size_t i = 0; i < s.size(); ++i)
        REQUIRE((s[i] != '\n' || (i > 0 && s[i - 1] == '\r')));
    CHECK(s.substr(s.size() - 22) == "del \"%~f0\" >nul 2>&1\r\n");
    CHECK(BuildSwapScript(p, false).find("start \"\"") == std::string::npos);
    // A version is echoed bare in the script: nothing but version characters gets there.
    p.version = "1.0.5\"&calc %x%";
    CHECK(BuildTrialScript(p).find("set \"VER=1.0.5calcx\"\r\n") != std::string::npos);
    p.app = "C:\\\xE4\xB8\xAD\\a.exe";
    CHECK(BuildSwapScript(p, false).find("chcp 65001 >nul\r\n") != std::string::npos);
}

TEST_CASE("swap script run by the command interpreter in a hostile folder") {
    SwapFiles f = PrepareSwap(L"a b&c^d(e)f%g%!h' 中文");
    RunScript(f.script);
    CHECK(ReadFile(f.app) == "new build");
    CHECK(ReadFile(f.backup) == "old build");
    CHECK_FALSE(Exists(f.staged));
    CHECK_FALSE(Exists(f.started));
    CHECK_FALSE(Exists(f.script));
}

TEST_CASE("swap script started by the shell from a hostile temporary folder") {
    SwapFiles f = PrepareSwap(L"plain");
    // No '%' here: Wine's cmd expands a batch file's own path once more and then cannot
    // find it (the application paths inside the script may hold it, see above).
    std::wstring script = JoinPath(MakeFolder(L"t a&b^c(d)e!g' 临时"), L"update.cmd");
    REQUIRE(MoveFileW(f.script.c_str(), script.c_str()));
    ShellExecuteW(nullptr, L"open", script.c_str(), nullptr, nullptr, SW_HIDE);
    for (int i = 0; i < 150 && Exists(script); ++i)
        Sleep(100);
    CHECK(ReadFile(f.app) == "new build");
    CHECK_FALSE(Exists(script));
}

TEST_CASE("swap script waits for an application that is still held open") {
    SwapFiles f = PrepareSwap(L"held");
    HANDLE held = CreateFileW(f.app.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(held != INVALID_HANDLE_VALUE);
    std::thread release([held] {
        Sleep(7000); // well past the first attempts after about two seconds
        CloseHandle(held);
    });
    RunScript(f.script);
    release.join();
    CHECK(ReadFile(f.app) == "new build");
    CHECK(ReadFile(f.backup) == "old build");
    CHECK_FALSE(Exists(f.staged));
}

TEST_CASE("a script killed between backup and rename leaves the old program whole") {
    SwapFiles f = PrepareSwap(L"killed");
    // Readable, so the backup is made, but not replaceable, so the rename waits.
    HANDLE held = CreateFileW(f.app.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(held != INVALID_HANDLE_VALUE);
    HANDLE script = StartScript(f.script);
    WaitUntil(f.backup, 20000);
    Sleep(1000); // the rename has been tried and refused by now
    TerminateProcess(script, 1);
    WaitForSingleObject(script, 5000);
    CloseHandle(script);
    CloseHandle(held);
    CHECK(ReadFile(f.app) == "old build");
    CHECK(ReadFile(f.backup) == "old build");
    CHECK(ReadFile(f.staged) == "new build");
}

TEST_CASE("a missing program is restored from the backup") {
    SwapFiles f = PrepareSwap(L"missing");
    REQUIRE(WriteTextFile(f.backup, "old build"));
    DeleteFileW(f.app.c_str());
    DeleteFileW(f.staged.c_str());
    RunScript(f.script);
    CHECK(ReadFile(f.app) == "old build");
}

TEST_CASE("a program that ends on trial is rolled back; one that passes or has no marker stays") {
    // Held while the program runs: the script waits, then finds it ended without passing.
    TrialFiles f = PrepareTrial(L"trial a&b%c 中文", nullptr);
    HANDLE held = CreateFileW(f.trial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(held != INVALID_HANDLE_VALUE);
    DWORD written = 0;
    REQUIRE(WriteFile(held, "running\r\n", 9, &written, nullptr));
    RollBackOnceReleased(f, held, 4000);

    f = PrepareTrial(L"timeout", "timeout");
    RunScript(f.script);
    CheckRolledBack(f, "did not come up in time");

    for (const char* state : {"passed", static_cast<const char*>(nullptr)}) {
        f = PrepareTrial(L"kept", state);
        RunScript(f.script);
        CHECK(ReadFile(f.app) == "new build");
        CHECK(Exists(f.backup));
        CHECK_FALSE(Exists(f.trial));
        CHECK_FALSE(Exists(f.undone));
        CHECK_FALSE(Exists(f.log));
    }
}

TEST_CASE("a roll-back waits while the backup is held") {
    TrialFiles f = PrepareTrial(L"held backup", "running");
    // Readable but not to be renamed, as a virus scanner holds a file it is reading.
    HANDLE held = CreateFileW(f.backup.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(held != INVALID_HANDLE_VALUE);
    RollBackOnceReleased(f, held, 7000);
}

TEST_CASE("a swap without restart leaves an unwatched trial; a failed one leaves none") {
    SwapFiles f = PrepareSwap(L"unwatched");
    RunScript(f.script);
    CHECK(ReadFile(f.app) == "new build");
    CHECK(Trimmed(ReadFile(f.trial)) == "unwatched");
    f = PrepareSwap(L"failed");
    DeleteFileW(f.staged.c_str());
    RunScript(f.script);
    CHECK(ReadFile(f.app) == "old build");
    CHECK_FALSE(Exists(f.trial));
}
