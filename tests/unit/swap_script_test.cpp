#include <doctest/doctest.h>

// First: it brings the socket header, which must come before windows.h.
#include "update_fixtures.h"

#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"
#include "ota/swap_script.h"
#include "ota/update.h"

#include <windows.h>

#include <string>
#include <thread>

using namespace update_fixtures;

namespace {

std::string Safe(const std::wstring& path) {
    return WideToUtf8(ScriptSafePath(path));
}

struct SwapFiles {
    std::wstring dir, staged, app, backup, started, script, trial, log;
};

// A swap of "old build" for `staged` in the folder `dir` (made when empty).
SwapFiles PrepareSwap(const std::wstring& folderName, std::wstring dir = std::wstring(),
                      const char* staged = "new build") {
    SwapFiles f;
    f.dir = dir.empty() ? MakeFolder(folderName) : dir;
    std::wstring script = MakeFolder(L"script");
    f.staged = JoinPath(f.dir, L"OVRA-Zirer.exe." + std::to_wstring(GetTickCount64()) + L".new");
    f.app = JoinPath(f.dir, L"OVRA-Zirer.exe");
    f.backup = f.app + L".bak";
    f.script = JoinPath(script, L"update.cmd");
    f.started = f.script + L".started";
    f.trial = f.app + L".trial";
    f.log = JoinPath(f.dir, L"ota.log");
    REQUIRE(WriteTextFile(f.staged, staged));
    if (dir.empty())
        REQUIRE(WriteTextFile(f.app, "old build"));
    SwapScriptPaths paths;
    paths.staged = Safe(f.staged);
    paths.app = Safe(f.app);
    paths.backup = Safe(f.backup);
    paths.started = Safe(f.started);
    paths.trial = Safe(f.trial);
    paths.log = Safe(f.log);
    paths.lock = Safe(f.app + L".lock");
    paths.version = "1.0.5";
    REQUIRE(WriteTextFile(f.script, BuildSwapScript(paths, false)));
    return f;
}

void WaitUntil(const std::wstring& path, int ms) {
    for (int waited = 0; waited < ms && !Exists(path); waited += 50)
        Sleep(50);
}

std::wstring FolderOf(const std::wstring& path) {
    return path.substr(0, path.find_last_of(L'\\'));
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
    f.oldProgram = JoinPath(FolderOf(ModulePath()), L"blocked_cmd.exe");
    REQUIRE(WriteTextFile(f.app, "new build"));
    REQUIRE(CopyFileW(f.oldProgram.c_str(), f.backup.c_str(), FALSE));
    if (state)
        REQUIRE(WriteTextFile(f.trial, std::string(state) + "\r\n"));
    SwapScriptPaths paths{"",          Safe(f.app),   Safe(f.backup),
                          "",          Safe(f.trial), Safe(f.undone),
                          Safe(f.log), "1.0.5",       Safe(f.app + L".lock")};
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
    CHECK(s.rfind("@echo off\r\nsetlocal DisableDelayedExpansion\r\n", 0) == 0);
    CHECK(s.find("set \"NEW=C:\\A\\a.exe.1.new\"\r\n") != std::string::npos);
    CHECK(s.find("set \"APP=C:\\50%% & (x)^!\\a.exe\"\r\n") != std::string::npos);
    CHECK(s.find("chcp") == std::string::npos);
    // The program is only ever renamed over, never written into.
    CHECK(s.find("move /Y \"%NEW%\" \"%APP%\"") != std::string::npos);
    CHECK(s.find("copy /Y \"%NEW%\"") == std::string::npos);
    size_t swap = s.find(":swap\r\n");
    CHECK(s.find("echo started>\"%MARK%\"", swap) < s.find("ping", swap));
    CHECK(s.find("start \"\" \"%APP%\"\r\n") != std::string::npos);
    for (size_t i = 0; i < s.size(); ++i)
        REQUIRE((s[i] != '\n' || (i > 0 && s[i - 1] == '\r')));
    CHECK(s.find("del \"%~f0\" >nul 2>&1") != std::string::npos);
    // System programs by full path, from the system folder.
    CHECK(s.find("set \"SYS=%SystemRoot%\\System32\"\r\ncd /d \"%SYS%\"\r\n") != std::string::npos);
    for (size_t at = s.find("ping"); at != std::string::npos; at = s.find("ping", at + 1))
        CHECK(s.compare(at - 6, 10, "%SYS%\\ping") == 0);
    CHECK(BuildSwapScript(p, false).find("start \"\"") == std::string::npos);
    // A version is echoed bare in the script: nothing but version characters gets there.
    p.version = "1.0.5\"&calc %x%";
    CHECK(BuildTrialScript(p).find("set \"VER=1.0.5calcx\"\r\n") != std::string::npos);
    p.app = "C:\\\xE4\xB8\xAD\\a.exe";
    CHECK(BuildSwapScript(p, false).find("\"%SYS%\\chcp.com\" 65001 >nul\r\n") !=
          std::string::npos);
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

TEST_CASE("swap script started hidden from a hostile temporary folder") {
    SwapFiles f = PrepareSwap(L"plain");
    // No '%' here: Wine's cmd expands a batch file's own path once more and then cannot
    // find it (the application paths inside the script may hold it, see above).
    std::wstring script = JoinPath(MakeFolder(L"t a&b^c(d)e!g' 临时"), L"update.cmd");
    REQUIRE(MoveFileW(f.script.c_str(), script.c_str()));
    HANDLE process = nullptr;
    REQUIRE(StartHiddenScript(script, &process));
    CHECK(WaitForSingleObject(process, 15000) == WAIT_OBJECT_0);
    CloseHandle(process);
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

TEST_CASE("a program that ends on trial is rolled back; one that passes or has no marker stays, "
          "its backup gone") {
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
        CHECK_FALSE(Exists(f.backup));
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
    CHECK(ReadFile(f.log) == "update not applied: 1.0.5, the new program is missing\r\n");
}

TEST_CASE("a backup is only ever a program that passed; with nothing to back up, no trial") {
    // Two swaps before any start: the first program never ran its trial, so the backup
    // stays the one known to work.
    SwapFiles f = PrepareSwap(L"twice");
    RunScript(f.script);
    SwapFiles second = PrepareSwap(L"", f.dir, "newer build");
    RunScript(second.script);
    CHECK(ReadFile(f.app) == "newer build");
    CHECK(ReadFile(f.backup) == "old build");
    CHECK(Trimmed(ReadFile(f.trial)) == "unwatched");
    // Once a trial has passed, the next swap backs up the program that passed.
    REQUIRE(WriteTextFile(f.trial, "passed\r\n"));
    RunScript(PrepareSwap(L"", f.dir, "newest build").script);
    CHECK(ReadFile(f.backup) == "newer build");

    // No program: the new one goes in untried, and an old backup and marker go.
    f = PrepareSwap(L"no program");
    REQUIRE(WriteTextFile(f.backup, "ancient build"));
    REQUIRE(WriteTextFile(f.trial, "passed\r\n"));
    DeleteFileW(f.app.c_str());
    RunScript(f.script);
    CHECK(ReadFile(f.app) == "new build");
    CHECK_FALSE(Exists(f.backup));
    CHECK_FALSE(Exists(f.trial));
}

TEST_CASE("one script at a time per program: a second leaves the first one's files alone") {
    SwapFiles first = PrepareSwap(L"two scripts");
    // Readable, so the backup is made, but not replaceable: the first script waits.
    HANDLE held = CreateFileW(first.app.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(held != INVALID_HANDLE_VALUE);
    HANDLE script = StartScript(first.script);
    WaitUntil(first.backup, 20000);
    CHECK(ScriptRunning(first.app));

    SwapFiles second = PrepareSwap(L"", first.dir, "newer build");
    RunScript(second.script);
    CHECK(Trimmed(ReadFile(second.started)) == "busy");
    CHECK_FALSE(Exists(second.staged));
    CHECK(ReadFile(first.staged) == "new build");
    CHECK(ReadFile(first.backup) == "old build");
    CHECK(ReadFile(first.log) ==
          "update not applied: 1.0.5, another update is being put in place\r\n");

    CloseHandle(held);
    CHECK(WaitForSingleObject(script, 60000) == WAIT_OBJECT_0);
    CloseHandle(script);
    CHECK(ReadFile(first.app) == "new build");
    CHECK_FALSE(ScriptRunning(first.app));
    CHECK_FALSE(Exists(first.app + L".lock"));
}

TEST_CASE("a marker left pending: a program that runs is kept, one that never started is not") {
    UnclaimedTrialSeconds = 3;
    TrialFiles f = PrepareTrial(L"unclaimed", "pending");
    // The new program runs but never claimed its trial.
    REQUIRE(CopyFileW(JoinPath(FolderOf(f.oldProgram), L"stuck_program.exe").c_str(), f.app.c_str(),
                      FALSE));
    std::string running = ReadFile(f.app);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    REQUIRE(CreateProcessW(f.app.c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                           nullptr, nullptr, &si, &pi));
    RunScript(f.script);
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 5000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CHECK(ReadFile(f.app) == running);
    CHECK(Exists(f.backup));
    CHECK(Trimmed(ReadFile(f.trial)) == "pending");
    CHECK(ReadFile(f.log) == "update trial: 1.0.5 runs but did not claim its trial; it is kept, "
                             "and its next start tries it\r\n");

    f = PrepareTrial(L"never started", "pending");
    RunScript(f.script);
    CheckRolledBack(f, "did not start");
    UnclaimedTrialSeconds = 90;
}

TEST_CASE("a script finds no stand-ins for system programs in the program's folder") {
    SwapFiles f = PrepareSwap(L"planted 中文");
    std::wstring planted = JoinPath(f.dir, L"planted.txt");
    for (const wchar_t* name : {L"ping.bat", L"chcp.bat", L"ping.cmd", L"chcp.cmd"})
        REQUIRE(WriteTextFile(JoinPath(f.dir, name),
                              "@echo %0>>\"" + WideToUtf8(ScriptSafePath(planted)) + "\"\r\n"));
    wchar_t saved[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, saved);
    // Where a program started from its folder would start the script.
    REQUIRE(SetCurrentDirectoryW(f.dir.c_str()));
    HANDLE script = nullptr;
    bool started = StartHiddenScript(f.script, &script);
    SetCurrentDirectoryW(saved);
    REQUIRE(started);
    CHECK(WaitForSingleObject(script, 60000) == WAIT_OBJECT_0);
    CloseHandle(script);
    CHECK(ReadFile(f.app) == "new build");
    CHECK_FALSE(Exists(planted));
}
