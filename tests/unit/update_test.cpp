#include <doctest/doctest.h>

// First: it brings the socket header, which must come before windows.h.
#include "update_fixtures.h"

#include "base/files.h"
#include "base/globals.h"
#include "base/paths.h"
#include "base/text.h"
#include "ota/http_client.h"
#include "ota/ota_check.h"
#include "ota/ota_log.h"
#include "ota/sha256.h"
#include "ota/swap_script.h"
#include "ota/update.h"
#include "ota/verify.h"

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace update_fixtures;

TEST_CASE("paths written into scripts read the same under any code page") {
    std::wstring dir = MakeFolder(L"更新 测试");
    std::wstring file = JoinPath(dir, L"OVRA-Zirer.exe");
    REQUIRE(WriteTextFile(file, "x"));
    std::wstring safe = ScriptSafePath(file);
    for (wchar_t c : safe)
        REQUIRE(c < 0x80);
    CHECK(ReadFile(safe) == "x");
    CHECK(safe.substr(safe.size() - 15) == L"\\OVRA-Zirer.exe");
    // Not there yet: the folder is shortened, the name kept.
    std::wstring backup = ScriptSafePath(file + L".bak");
    CHECK(backup == safe + L".bak");
    CHECK(ScriptSafePath(L"C:\\plain\\a.exe") == L"C:\\plain\\a.exe");
}

TEST_CASE("text files are written whole or reported") {
    std::wstring dir = MakeFolder(L"write");
    std::wstring path = JoinPath(dir, L"f.txt");
    REQUIRE(WriteTextFile(path, "first, longer"));
    CHECK(WriteTextFile(path, "second"));
    CHECK(ReadFile(path) == "second");
    CHECK_FALSE(WriteTextFile(JoinPath(dir, L"missing\\f.txt"), "x"));
}

TEST_CASE("verifier command line and digest checks") {
    std::wstring line = VerifierCommandLine(L"C:\\W\\powershell.exe", L"C:\\it's\\o\u2019k.exe",
                                            std::wstring(64, L'a'));
    CHECK(line == L"\"C:\\W\\powershell.exe\" -NoProfile -Command \"if ((Get-FileHash -Algorithm "
                  L"SHA256 -LiteralPath 'C:\\it''s\\o\u2019\u2019k.exe').Hash -ne '" +
                      std::wstring(64, L'a') + L"') { exit 1 }\"");
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    CHECK(PowerShellPath() == std::wstring(system) + L"\\WindowsPowerShell\\v1.0\\powershell.exe");

    CHECK(IsSha256Hex(std::wstring(32, L'a') + std::wstring(32, L'F')));
    CHECK_FALSE(IsSha256Hex(std::wstring(63, L'a')));
    CHECK_FALSE(IsSha256Hex(std::wstring(65, L'a')));
    CHECK_FALSE(IsSha256Hex(std::wstring(63, L'a') + L"'"));
    CHECK(SameDigest(L"abCD", L"ABcd"));
    CHECK_FALSE(SameDigest(L"abc", L"abd"));

    std::wstring dir = MakeFolder(L"digest");
    std::wstring abc = JoinPath(dir, L"abc.bin");
    REQUIRE(WriteTextFile(abc, "abc"));
    CHECK(Sha256OfFile(abc) == L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    std::wstring million = JoinPath(dir, L"a.bin");
    REQUIRE(WriteTextFile(million, std::string(1000000, 'a'))); // spans many read chunks
    CHECK(Sha256OfFile(million) ==
          L"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    CHECK(Sha256OfFile(JoinPath(dir, L"none.bin")).empty());
    // Whatever is installed as PowerShell, a malformed digest never reaches it.
    CHECK(VerifyDigest(abc, L"ba7816bf' ; exit 0 ; '") == DigestCheck::Mismatched);
    CHECK(VerifyDigest(abc, L"") == DigestCheck::Mismatched);
}

TEST_CASE("one update at a time across threads and processes") {
    HANDLE mine = AcquireUpdateLock();
    REQUIRE(mine != nullptr);
    std::atomic<int> hooks{0};
    UpdateOutcome outcome = UpdateOutcome::Launched;
    HANDLE other = nullptr;
    std::thread second([&] {
        other = AcquireUpdateLock();
        OtaCheckResult r;
        r.url = L"http://127.0.0.1:1/never.exe";
        UpdateReport report;
        report.downloading = [&] { ++hooks; };
        outcome = RunUpdate(r, false, report).outcome;
    });
    second.join();
    CHECK(other == nullptr);
    CHECK(outcome == UpdateOutcome::AlreadyRunning);
    CHECK(hooks == 0);
    ReleaseUpdateLock(mine);

    std::thread third([&] {
        other = AcquireUpdateLock();
        ReleaseUpdateLock(other);
    });
    third.join();
    CHECK(other != nullptr);

    // A script still at work on the program (its swap, or the watch of its trial).
    ExePath = JoinPath(MakeFolder(L"script at work"), L"OVRA-Zirer.exe");
    HANDLE script = CreateFileW(ScriptLockPath(ExePath).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(script != INVALID_HANDLE_VALUE);
    OtaCheckResult r;
    r.url = L"http://127.0.0.1:1/never.exe";
    UpdateReport report;
    report.downloading = [&] { ++hooks; };
    CHECK(RunUpdate(r, false, report).outcome == UpdateOutcome::AlreadyRunning);
    CHECK(hooks == 0);
    CloseHandle(script);
    CHECK_FALSE(ScriptRunning(ExePath));
}

TEST_CASE("what updates that ended abruptly left is removed at the next start") {
    std::wstring dir = MakeFolder(L"leftovers");
    ExePath = JoinPath(dir, L"OVRA-Zirer.exe");
    std::wstring staged = ExePath + L".0A1B-2C.new";
    std::wstring download = JoinPath(TempFolder(), L"OVRA-Zirer.0A1B-2C.new.exe");
    std::wstring other = JoinPath(dir, L"keep.new");
    for (const std::wstring& file : {ExePath, staged, download, other})
        REQUIRE(WriteTextFile(file, "x"));
    // Not while an update runs, nor while a script works on the program.
    HANDLE update = AcquireUpdateLock();
    std::thread(RemoveUpdateLeftovers).join(); // the lock is recursive on this thread
    ReleaseUpdateLock(update);
    CHECK(Exists(staged));
    CHECK(Exists(download));
    HANDLE script = CreateFileW(ScriptLockPath(ExePath).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    RemoveUpdateLeftovers();
    CHECK(Exists(staged));
    CHECK(Exists(download));
    CloseHandle(script);
    RemoveUpdateLeftovers();
    CHECK_FALSE(Exists(staged));
    CHECK_FALSE(Exists(download));
    CHECK_FALSE(Exists(ScriptLockPath(ExePath)));
    CHECK(Exists(ExePath));
    CHECK(Exists(other));
}

TEST_CASE("manifest decides availability; the comparison is logged") {
    OtaCheckResult r = ReadManifest(
        R"({"version":"1.0.5","url":"http://h/n.exe","sha256":"ab","notes":"修复","force": true})");
    CHECK(r.available);
    CHECK(r.force);
    CHECK(r.notes == L"修复");
    CHECK_FALSE(ReadManifest(R"({"version":"1.0.5"})").available);             // no url
    CHECK_FALSE(ReadManifest(R"({"version":"1.0.4.1","url":"u"})").available); // three compared
    CHECK_FALSE(ReadManifest(R"({"version":"1.0.3","url":"u","force":true})").available);
    OtaCheckResult same = ReadManifest(R"({"version":"1.0.4","url":"u","sha256":"s","notes":"n"})");
    CHECK_FALSE(same.available);
    CHECK(same.url == L"u");
    CHECK(ReadManifest(R"({"url":"u","sha256":""})").available == false);

    std::string log = ReadFile(OtaLogPath());
    CHECK(log.find("CheckOta local=1.0.4 remote=1.0.5 cmp=-1 available=1 url=http://h/n.exe "
                   "sha256=ab\r\n") != std::string::npos);
    CHECK(log.find("CheckOta local=1.0.4 remote=1.0.3 cmp=1 available=0 url=u sha256=\r\n") !=
          std::string::npos);
}

TEST_CASE("manifest values reach the log as one bounded line each") {
    std::string tag = "forged-" + std::to_string(GetTickCount64());
    ReadManifest("{\"version\":\"" + std::string(5000, '9') + "\",\"url\":\"http://h/\\r\\n" + tag +
                 " line\\u0007\",\"sha256\":\"\\u2028x\"}");
    std::string log = ReadFile(OtaLogPath());
    size_t at = log.find(" url=http://h/\\r\\n" + tag + " line\\x07 sha256=\\u2028x\r\n");
    REQUIRE(at != std::string::npos);
    size_t start = log.rfind("\r\n", at) + 2;
    CHECK(log.substr(start, at - start) ==
          "CheckOta local=1.0.4 remote=" + std::string(200, '9') + "... cmp=-1 available=1");
    CHECK(log.find("\n" + tag) == std::string::npos);
    CHECK(OneLine(L"a\tb\x1b\x7f\x85z", 3) == "a\\tb...");
    CHECK(OneLine(L"\x1b\x7f\x85\u4e2d", 10) == "\\x1B\\x7F\\x85\xE4\xB8\xAD");
}

TEST_CASE("log lines from concurrent writers all arrive whole") {
    const std::string tag = "writer-test-" + std::to_string(GetTickCount64());
    // A reader that shares writing does not stop appends; one that does not is waited for.
    HANDLE reader =
        CreateFileW(OtaLogPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::vector<std::thread> writers;
    for (int t = 0; t < 8; ++t) {
        writers.emplace_back([t, &tag] {
            for (int i = 0; i < 100; ++i)
                OtaLog(tag + " " + std::to_string(t) + " " + std::to_string(i) + " " +
                       std::string(200, 'x'));
        });
    }
    for (std::thread& w : writers)
        w.join();
    CloseHandle(reader);
    HANDLE exclusive = CreateFileW(OtaLogPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::thread late([&tag] { OtaLog(tag + " late"); });
    Sleep(50);
    CloseHandle(exclusive);
    late.join();

    std::istringstream log(ReadFile(OtaLogPath()));
    std::string line;
    int whole = 0;
    bool late_seen = false;
    while (std::getline(log, line)) {
        if (line.find(tag) == std::string::npos)
            continue;
        if (line == tag + " late\r") {
            late_seen = true;
            continue;
        }
        REQUIRE(line.rfind(tag, 0) == 0);
        REQUIRE(line.size() > 200);
        REQUIRE(line.back() == '\r');
        ++whole;
    }
    CHECK(whole == 800);
    CHECK(late_seen);
}

namespace {

std::wstring BuiltProgram(const std::wstring& name) {
    wchar_t self[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    std::wstring dir(self);
    return JoinPath(dir.substr(0, dir.find_last_of(L'\\')), L"..\\..\\" + name);
}

// Files in `dir` whose names contain `part`.
int CountFiles(const std::wstring& dir, const std::wstring& part) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(JoinPath(dir, L"*").c_str(), &found);
    int n = 0;
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if (std::wstring(found.cFileName).find(part) != std::wstring::npos)
            ++n;
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return n;
}

struct UpdateRun {
    std::wstring dir;
    std::string installed;
    UpdateOutcome outcome = UpdateOutcome::Launched;
    bool requested = false;
};

// One console-form update of an installed copy of the current build, served `body`
// (cut to `sent` bytes without a length when given) for the offered version 1.0.5.
UpdateRun RunAgainst(const std::string& body, size_t sent, const std::wstring& sha256,
                     std::wstring folder = std::wstring()) {
    UpdateRun run;
    run.dir = MakeFolder(L"install");
    run.installed = ReadFile(BuiltProgram(L"OVRA-Zirer.exe"));
    REQUIRE(WriteTextFile(JoinPath(run.dir, L"OVRA-Zirer.exe"), run.installed));
    ExePath = JoinPath(folder.empty() ? run.dir : folder, L"OVRA-Zirer.exe");
    Server server([&](SOCKET s) {
        run.requested = true;
        std::string head = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
        if (sent == body.size())
            head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        Send(s, head + "\r\n" + body.substr(0, sent));
        return End::Close;
    });
    OtaCheckResult offer;
    offer.version = L"1.0.5";
    offer.url = server.Url();
    offer.sha256 = sha256;
    offer.available = true;
    run.outcome = RunUpdate(offer, false, UpdateReport()).outcome;
    bool asked = run.requested;
    if (!asked) // let the server's accept end
        HttpGet(server.Url(), nullptr, nullptr);
    run.requested = asked;
    return run;
}

// Nothing was replaced and nothing of the run is left beside the program.
void CheckUntouched(const UpdateRun& run) {
    CHECK(ReadFile(JoinPath(run.dir, L"OVRA-Zirer.exe")) == run.installed);
    CHECK(CountFiles(run.dir, L".new") == 0);
    CHECK(CountFiles(TempFolder(), L".new.exe") == 0);
}

} // namespace

TEST_CASE("an update takes only a whole program that reports the offered version") {
    std::string next = ReadFile(BuiltProgram(L"OVRA-Zirer-next.exe"));
    REQUIRE(next.size() > 100000);
    std::wstring nextDigest = Sha256OfFile(BuiltProgram(L"OVRA-Zirer-next.exe"));
    SUBCASE("without a digest, a body cut off without a length is a failed download") {
        UpdateRun run = RunAgainst(next, next.size() / 2, L"");
        CHECK(run.outcome == UpdateOutcome::DownloadFailed);
        CheckUntouched(run);
    }
    SUBCASE("with a digest, a cut-off body is a failed download, not a mismatch") {
        UpdateRun run = RunAgainst(next, next.size() - 1000, nextDigest);
        CHECK(run.outcome == UpdateOutcome::DownloadFailed);
        CheckUntouched(run);
    }
    SUBCASE("without a digest, a file that is no program is refused") {
        UpdateRun run = RunAgainst(std::string(300000, 'x'), 300000, L"");
        CHECK(run.outcome == UpdateOutcome::DownloadFailed);
        CheckUntouched(run);
    }
    SUBCASE("a program reporting another version is refused") {
        std::string old = ReadFile(BuiltProgram(L"OVRA-Zirer.exe"));
        UpdateRun run = RunAgainst(old, old.size(), L"");
        CHECK(run.outcome == UpdateOutcome::WrongVersion);
        CheckUntouched(run);
    }
    SUBCASE("a program folder that cannot be written is found before the download") {
        UpdateRun run = RunAgainst(next, next.size(), L"", L"C:\\no such folder");
        CHECK(run.outcome == UpdateOutcome::NotApplied);
        CHECK_FALSE(run.requested);
    }
    SUBCASE("a whole program of the offered version is put in place") {
        UpdateRun run = RunAgainst(next, next.size(), L"");
        REQUIRE(run.outcome == UpdateOutcome::Launched);
        std::wstring app = JoinPath(run.dir, L"OVRA-Zirer.exe");
        for (int i = 0; i < 200 && ReadFile(app) != next; ++i)
            Sleep(100);
        CHECK(ReadFile(app) == next);
        CHECK(ReadFile(app + L".bak") == run.installed);
        CHECK(CountFiles(run.dir, L".new") == 0);
    }
}
