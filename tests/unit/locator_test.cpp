#include <doctest/doctest.h>

#include "locator_fixtures.h"
#include "runtime_locator/locator.h"
#include "runtime_locator/runtime_search.h"

#include <objbase.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace fixtures;

namespace {

const HRESULT NoRuntime = static_cast<HRESULT>(0x80070002);
const HRESULT NoVersionResource = static_cast<HRESULT>(0x80070714);
const HRESULT FakeClientResult = 0x00040042;
const wchar_t* const FakeVersion = L"120.0.2210.91";
const wchar_t* const StableGuid = L"{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
const wchar_t* const BetaGuid = L"{2CD8A007-E189-409D-A2C8-9AF4EF3C72AA}";
const wchar_t* const CanaryGuid = L"{65C35B14-6C1D-4122-AC46-7148CC9D6497}";
const wchar_t* const Policies = L"Software\\Policies\\Microsoft\\Edge\\WebView2\\";
const wchar_t* const Machine32 = L"Software\\WOW6432Node";
const wchar_t* const Native = L"Software";

const wchar_t* const LoaderVariables[] = {L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER",
                                          L"WEBVIEW2_USER_DATA_FOLDER",
                                          L"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE",
                                          L"WEBVIEW2_RELEASE_CHANNELS",
                                          L"OVRA_FAKE_CLIENT_LOG",
                                          L"OVRA_FAKE_CLIENT_INVOKE",
                                          L"OVRA_FAKE_CLIENT_RESULT"};

void SetRegistryText(HKEY hive, const std::wstring& key, const wchar_t* name,
                     const std::wstring& value) {
    REQUIRE(RegSetKeyValueW(hive, key.c_str(), name, REG_SZ, value.c_str(),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) ==
            ERROR_SUCCESS);
}

void Register(HKEY hive, const wchar_t* root, const wchar_t* guid, const fs::path& folder) {
    SetRegistryText(hive, std::wstring(root) + L"\\Microsoft\\EdgeUpdate\\ClientState\\" + guid,
                    L"EBWebView", folder.wstring());
}

void SetPolicy(HKEY hive, const wchar_t* setting, const wchar_t* program,
               const std::wstring& value) {
    SetRegistryText(hive, std::wstring(Policies) + setting, program, value);
}

// Every test starts and ends without loader settings or registered runtimes. Once a
// 32-bit branch exists in the user's registry, 32-bit readers see only it, so it goes
// as a whole (a fresh profile has none).
struct CleanMachine {
    CleanMachine() { Clear(); }
    ~CleanMachine() { Clear(); }
    static void Clear() {
        for (const wchar_t* name : LoaderVariables)
            SetEnvironmentVariableW(name, nullptr);
        for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            RegDeleteTreeW(hive, L"Software\\Policies\\Microsoft\\Edge");
            RegDeleteTreeW(hive, L"Software\\Microsoft\\EdgeUpdate");
        }
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\WOW6432Node\\Microsoft\\EdgeUpdate");
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\WOW6432Node");
    }
};

// The version the loader reports, or its failure code as text.
std::wstring Version(const wchar_t* folder = nullptr) {
    LPWSTR text = reinterpret_cast<LPWSTR>(1);
    HRESULT hr = GetAvailableCoreWebView2BrowserVersionString(folder, &text);
    if (FAILED(hr)) {
        CHECK(text == nullptr);
        wchar_t code[16];
        std::swprintf(code, 16, L"%08lX", static_cast<unsigned long>(hr));
        return code;
    }
    REQUIRE(text != nullptr);
    std::wstring version = text;
    CoTaskMemFree(text);
    return version;
}

// One factory call as the test client recorded it.
struct ClientCall {
    std::string flag, kind, userDataFolder, options, handler, library;
};

std::vector<ClientCall> ReadCalls(const fs::path& log) {
    std::ifstream in(log, std::ios::binary);
    std::vector<ClientCall> calls;
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');)
            f.push_back(field);
        REQUIRE(f.size() == 6);
        calls.push_back({f[0], f[1], f[2], f[3], f[4], f[5]});
    }
    return calls;
}

std::string PointerText(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

// A completion handler that counts what it is told.
struct RecordingHandler : ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler {
    std::vector<HRESULT> results;
    ULONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = this;
        ++refs;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE Invoke(HRESULT errorCode, ICoreWebView2Environment*) override {
        results.push_back(errorCode);
        return S_OK;
    }
};

// A runtime install under `root` whose folder is named by `version`.
fs::path Install(const TempFolder& root, const wchar_t* version,
                 const wchar_t* client = L"fake_client.dll") {
    fs::path folder = root.path / version;
    MakeRuntime(folder, client);
    return folder;
}

} // namespace

TEST_CASE("a configured runtime folder is used as given") {
    CleanMachine clean;
    TempFolder good, empty;
    MakeRuntime(good.path, L"fake_client.dll");

    CHECK(Version(good.str().c_str()) == FakeVersion);
    CHECK(Version((good.str() + L"\\").c_str()) == FakeVersion);

    // A registered install must not stand in for a configured folder that is wrong.
    Register(HKEY_LOCAL_MACHINE, Machine32, StableGuid, Install(good, L"121.0.0.0"));
    CHECK(Version(empty.str().c_str()) == L"80070002");
    CHECK(Version(L"") == L"121.0.0.0");

    SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", good.str().c_str());
    CHECK(Version(empty.str().c_str()) == FakeVersion);
    SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", empty.str().c_str());
    CHECK(Version(good.str().c_str()) == L"80070002");
}

TEST_CASE("group policies: machine before user, this program before every program") {
    CleanMachine clean;
    TempFolder withVersion, withoutVersion;
    MakeRuntime(withVersion.path, L"fake_client.dll");
    MakeRuntime(withoutVersion.path, L"fake_client_noversion.dll");

    SetPolicy(HKEY_CURRENT_USER, L"BrowserExecutableFolder", L"*", withoutVersion.str());
    CHECK(Version() == L"80070714");
    SetPolicy(HKEY_CURRENT_USER, L"BrowserExecutableFolder", L"locator_test.exe",
              withVersion.str());
    CHECK(Version() == FakeVersion);
    // The policy overrides the caller's folder; the environment overrides the policy.
    CHECK(Version(withoutVersion.str().c_str()) == FakeVersion);
    SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", withoutVersion.str().c_str());
    CHECK(Version() == L"80070714");
    SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", nullptr);

    // A machine policy for every program outranks the user's one for this program.
    SetPolicy(HKEY_LOCAL_MACHINE, L"BrowserExecutableFolder", L"*", withoutVersion.str());
    CHECK(Version() == L"80070714");

    // The release channels are a text policy; a number there is not taken.
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Policies\\Microsoft\\Edge");
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Policies\\Microsoft\\Edge");
    TempFolder installs;
    Register(HKEY_LOCAL_MACHINE, Machine32, StableGuid, Install(installs, L"120.0.0.1"));
    Register(HKEY_LOCAL_MACHINE, Machine32, CanaryGuid, Install(installs, L"123.0.0.4"));
    DWORD canary = 3, leastStableFirst = 1;
    REQUIRE(RegSetKeyValueW(HKEY_LOCAL_MACHINE,
                            (std::wstring(Policies) + L"ReleaseChannels").c_str(), L"*", REG_DWORD,
                            &canary, sizeof canary) == ERROR_SUCCESS);
    CHECK(Version() == L"120.0.0.1");
    // The preference may be either.
    REQUIRE(RegSetKeyValueW(
                HKEY_LOCAL_MACHINE, (std::wstring(Policies) + L"ReleaseChannelPreference").c_str(),
                L"*", REG_DWORD, &leastStableFirst, sizeof leastStableFirst) == ERROR_SUCCESS);
    CHECK(Version() == L"123.0.0.4 canary");
}

TEST_CASE("registered installs: 32-bit machine view, then the user's, channel by channel") {
    CleanMachine clean;
    TempFolder root;
    fs::path stable = Install(root, L"120.0.2210.91");
    fs::path userStable = Install(root, L"120.0.2300.5");
    fs::path beta = Install(root, L"121.0.2277.4", L"fake_client_noversion.dll");

    // What the 64-bit view of the machine registry says is not read.
    Register(HKEY_LOCAL_MACHINE, Native, StableGuid, stable);
    CHECK(Version() == L"80070002");
    // The version is the folder's name, a non-stable channel's with its name.
    Register(HKEY_LOCAL_MACHINE, Machine32, BetaGuid, beta);
    CHECK(Version() == L"121.0.2277.4 beta");
    // A stable install for this user alone still comes before a machine-wide beta.
    Register(HKEY_CURRENT_USER, Native, StableGuid, userStable);
    CHECK(Version() == L"120.0.2300.5");
    Register(HKEY_LOCAL_MACHINE, Machine32, StableGuid, stable);
    CHECK(Version() == FakeVersion);

    // A machine registration that cannot be used gives way to the user's.
    fs::remove_all(stable / L"EBWebView");
    CHECK(Version() == L"120.0.2300.5");
    Register(HKEY_LOCAL_MACHINE, Machine32, StableGuid, Install(root, L"80.0.361.0"));
    CHECK(Version() == L"120.0.2300.5");
    Register(HKEY_LOCAL_MACHINE, Machine32, StableGuid, Install(root, L"current"));
    CHECK(Version() == L"120.0.2300.5");
    Register(HKEY_LOCAL_MACHINE, Machine32, StableGuid, userStable / L"EBWebView");
    CHECK(Version() == L"120.0.2300.5");
}

TEST_CASE("runtime versions from 86.0.616.0 on are taken, compared part by part") {
    for (const wchar_t* taken : {L"86.0.616.0", L"86.0.616", L"86.1", L"120", L"0120.0.1.2",
                                 L"120.0.abc.91", L"86.0.616.-1", L"99999999999.0.0.0"})
        CHECK_MESSAGE(IsSupportedVersion(taken), fs::path(taken).string());
    for (const wchar_t* refused : {L"86.0.615.99", L"86", L"85.9999.9999.9999", L"1.0.0.0",
                                   L"current", L"", L"0x80.0.0.0", L"86.0.abc.0"})
        CHECK_MESSAGE(!IsSupportedVersion(refused), fs::path(refused).string());
}

TEST_CASE("release channel lists and preference") {
    using V = std::vector<int>;
    CHECK(ChannelOrder(L"", false) == V{0, 1, 2, 3, 4});
    CHECK(ChannelOrder(L"", true) == V{4, 3, 2, 1, 0});
    CHECK(ChannelOrder(L"3,1", false) == V{1, 3});
    CHECK(ChannelOrder(L"3,1,3", true) == V{3, 1});
    CHECK(ChannelOrder(L",1,,3,", false) == V{1, 3});
    // Items are read as numbers: what follows the digits is ignored, and what is no
    // channel's number counts as the stable channel.
    CHECK(ChannelOrder(L" 2 ;3, +4", false) == V{2, 4});
    CHECK(ChannelOrder(L"x,3", true) == V{3, 0});
    CHECK(ChannelOrder(L"9,2", false) == V{0, 2});
    CHECK(ChannelOrder(L"-1", false) == V{0});

    CleanMachine clean;
    TempFolder root;
    Register(HKEY_LOCAL_MACHINE, Machine32, StableGuid, Install(root, L"120.0.0.1"));
    Register(HKEY_LOCAL_MACHINE, Machine32, BetaGuid, Install(root, L"121.0.0.2"));
    Register(HKEY_LOCAL_MACHINE, Machine32, CanaryGuid, Install(root, L"123.0.0.4"));
    SetEnvironmentVariableW(L"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE", L"1");
    CHECK(Version() == L"123.0.0.4 canary");
    SetEnvironmentVariableW(L"WEBVIEW2_RELEASE_CHANNELS", L"0,1");
    CHECK(Version() == L"121.0.0.2 beta");
    SetPolicy(HKEY_LOCAL_MACHINE, L"ReleaseChannels", L"*", L"0");
    CHECK(Version() == L"121.0.0.2 beta");
    SetEnvironmentVariableW(L"WEBVIEW2_RELEASE_CHANNELS", nullptr);
    CHECK(Version() == L"120.0.0.1");
    SetEnvironmentVariableW(L"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE", L"2");
    SetPolicy(HKEY_LOCAL_MACHINE, L"ReleaseChannels", L"*", L"4");
    CHECK(Version() == L"80070002");
}

TEST_CASE("the environment is created through the client library") {
    CleanMachine clean;
    TempFolder runtime, installs, logs;
    MakeRuntime(runtime.path, L"fake_client.dll");
    fs::path log = logs.path / L"calls.txt";
    SetEnvironmentVariableW(L"OVRA_FAKE_CLIENT_LOG", log.c_str());
    RecordingHandler handler;
    ICoreWebView2EnvironmentOptions* options = nullptr;

    // No runtime yet: nothing is called.
    CHECK(CreateCoreWebView2EnvironmentWithOptions(nullptr, L"C:\\data", options, &handler) ==
          NoRuntime);
    CHECK_FALSE(fs::exists(log));
    CHECK(CreateCoreWebView2EnvironmentWithOptions(runtime.str().c_str(), nullptr, options,
                                                   nullptr) == E_POINTER);
    CHECK_FALSE(fs::exists(log));

    // A configured folder is kind 1, an installed runtime kind 0; the handler the client
    // sees is the locator's own, which passes the outcome on.
    SetEnvironmentVariableW(L"OVRA_FAKE_CLIENT_INVOKE", L"0");
    CHECK(CreateCoreWebView2EnvironmentWithOptions(runtime.str().c_str(), L"C:\\user data", options,
                                                   &handler) == FakeClientResult);
    fs::path stable = Install(installs, L"120.0.0.1");
    Register(HKEY_CURRENT_USER, Native, StableGuid, stable);
    SetEnvironmentVariableW(L"WEBVIEW2_USER_DATA_FOLDER", L"D:\\elsewhere");
    CHECK(CreateCoreWebView2EnvironmentWithOptions(nullptr, L"C:\\user data", options, &handler) ==
          FakeClientResult);
    std::vector<ClientCall> calls = ReadCalls(log);
    REQUIRE(calls.size() == 2);
    CHECK(calls[0].flag == "1");
    CHECK(calls[0].kind == "1");
    CHECK(calls[0].userDataFolder == "C:\\user data");
    CHECK(calls[0].handler != PointerText(&handler));
    CHECK(fs::path(calls[0].library) == fs::path(ClientLibraryPath(runtime.str())));
    CHECK(calls[1].kind == "0");
    CHECK(calls[1].userDataFolder == "D:\\elsewhere");
    CHECK(fs::path(calls[1].library) == fs::path(ClientLibraryPath(stable.wstring())));
    CHECK(handler.results == std::vector<HRESULT>{S_OK, S_OK});
    CHECK(handler.refs == 1);
}

TEST_CASE("a failed creation is tried once more and its outcome reaches the caller once") {
    CleanMachine clean;
    TempFolder runtime, logs;
    MakeRuntime(runtime.path, L"fake_client.dll");
    fs::path log = logs.path / L"calls.txt";
    SetEnvironmentVariableW(L"OVRA_FAKE_CLIENT_LOG", log.c_str());
    SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", runtime.str().c_str());
    auto attempts = [&]() {
        size_t n = ReadCalls(log).size();
        fs::remove(log);
        return n;
    };

    // Failing at once: the second failure is the result.
    RecordingHandler handler;
    SetEnvironmentVariableW(L"OVRA_FAKE_CLIENT_RESULT", L"80004005");
    CHECK(CreateCoreWebView2EnvironmentWithOptions(nullptr, L"C:\\u", nullptr, &handler) == E_FAIL);
    CHECK(attempts() == 2);
    CHECK(handler.results.empty());

    // Failing later: the caller hears only of the second attempt's failure.
    SetEnvironmentVariableW(L"OVRA_FAKE_CLIENT_RESULT", nullptr);
    SetEnvironmentVariableW(L"OVRA_FAKE_CLIENT_INVOKE", L"80070005");
    CHECK(CreateCoreWebView2EnvironmentWithOptions(nullptr, L"C:\\u", nullptr, &handler) ==
          FakeClientResult);
    CHECK(attempts() == 2);
    CHECK(handler.results == std::vector<HRESULT>{E_ACCESSDENIED});

    // A result that is no failure is passed on at the first attempt.
    handler.results.clear();
    SetEnvironmentVariableW(L"OVRA_FAKE_CLIENT_INVOKE", L"1");
    CreateCoreWebView2EnvironmentWithOptions(nullptr, L"C:\\u", nullptr, &handler);
    CHECK(attempts() == 1);
    CHECK(handler.results == std::vector<HRESULT>{S_FALSE});
    CHECK(handler.refs == 1);
}

TEST_CASE("version query without a runtime, a version resource or an out pointer") {
    CleanMachine clean;
    TempFolder runtime;
    MakeRuntime(runtime.path, L"fake_client_noversion.dll");
    CHECK(GetAvailableCoreWebView2BrowserVersionString(nullptr, nullptr) == E_POINTER);
    CHECK(Version() == L"80070002");
    CHECK(Version(runtime.str().c_str()) == L"80070714");
    LPWSTR text = nullptr;
    CHECK(GetAvailableCoreWebView2BrowserVersionString(runtime.str().c_str(), &text) ==
          NoVersionResource);
}
