#include <doctest/doctest.h>

#include "locator_fixtures.h"
#include "runtime_locator/locator.h"

#include <objbase.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

using namespace fixtures;

namespace {

const HRESULT NoRuntime = static_cast<HRESULT>(0x80070002);
const HRESULT NoVersionResource = static_cast<HRESULT>(0x80070714);
const HRESULT FakeClientResult = 0x00040042;
const wchar_t* const FakeVersion = L"120.0.2210.91";
const wchar_t* const StableGuid = L"{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
const wchar_t* const BetaGuid = L"{2CD8A007-E189-409D-A2C8-9AF4EF3C72AA}";
const wchar_t* const PolicyFolderKey =
    L"Software\\Policies\\Microsoft\\Edge\\WebView2\\BrowserExecutableFolder";

const wchar_t* const LoaderVariables[] = {
    L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", L"WEBVIEW2_USER_DATA_FOLDER",
    L"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE", L"WEBVIEW2_RELEASE_CHANNELS", L"OVRA_FAKE_CLIENT_LOG"};

void SetRegistryText(HKEY hive, const std::wstring& key, const wchar_t* name,
                     const std::wstring& value) {
    REQUIRE(RegSetKeyValueW(hive, key.c_str(), name, REG_SZ, value.c_str(),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) ==
            ERROR_SUCCESS);
}

std::wstring ClientStateKey(const wchar_t* root, const wchar_t* guid) {
    return std::wstring(root) + L"\\Microsoft\\EdgeUpdate\\ClientState\\" + guid;
}

// Every test starts and ends without loader settings or registered runtimes.
struct CleanMachine {
    CleanMachine() { Clear(); }
    ~CleanMachine() { Clear(); }
    static void Clear() {
        for (const wchar_t* name : LoaderVariables)
            SetEnvironmentVariableW(name, nullptr);
        for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            RegDeleteTreeW(hive, L"Software\\Policies\\Microsoft\\Edge");
            RegDeleteTreeW(hive, L"Software\\Microsoft\\EdgeUpdate");
            RegDeleteTreeW(hive, L"Software\\WOW6432Node\\Microsoft\\EdgeUpdate");
        }
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

std::string ReadLog(const fs::path& log) {
    std::ifstream in(log, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

auto* const FakeOptions = reinterpret_cast<ICoreWebView2EnvironmentOptions*>(0x1234);
auto* const FakeHandler =
    reinterpret_cast<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler*>(0x5678);

std::string ExpectedCall(const char* userDataFolder) {
    char line[512];
    std::snprintf(line, 512, "1 1 %s %p %p\n", userDataFolder, static_cast<void*>(FakeOptions),
                  static_cast<void*>(FakeHandler));
    return line;
}

} // namespace

TEST_CASE("a configured runtime folder is used as given") {
    CleanMachine clean;
    TempFolder good, empty;
    MakeRuntime(good.path, L"fake_client.dll");

    CHECK(Version(good.str().c_str()) == FakeVersion);
    CHECK(Version((good.str() + L"\\").c_str()) == FakeVersion);

    // A registered install must not stand in for a configured folder that is wrong.
    SetRegistryText(HKEY_CURRENT_USER, ClientStateKey(L"Software", StableGuid), L"EBWebView",
                    good.str());
    CHECK(Version(empty.str().c_str()) == L"80070002");

    SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", good.str().c_str());
    CHECK(Version(empty.str().c_str()) == FakeVersion);
    SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", empty.str().c_str());
    CHECK(Version(good.str().c_str()) == L"80070002");
}

TEST_CASE("group policy names the folder per executable or for every one") {
    CleanMachine clean;
    TempFolder withVersion, withoutVersion;
    MakeRuntime(withVersion.path, L"fake_client.dll");
    MakeRuntime(withoutVersion.path, L"fake_client_noversion.dll");

    SetRegistryText(HKEY_CURRENT_USER, PolicyFolderKey, L"*", withoutVersion.str());
    CHECK(Version() == L"80070714");
    SetRegistryText(HKEY_CURRENT_USER, PolicyFolderKey, L"locator_test.exe", withVersion.str());
    CHECK(Version() == FakeVersion);
    // The policy overrides the caller's folder; the environment overrides the policy.
    CHECK(Version(withoutVersion.str().c_str()) == FakeVersion);
    SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", withoutVersion.str().c_str());
    CHECK(Version() == L"80070714");
    SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", nullptr);

    // Machine policy before user policy.
    RegDeleteKeyValueW(HKEY_CURRENT_USER, PolicyFolderKey, L"locator_test.exe");
    SetRegistryText(HKEY_LOCAL_MACHINE, PolicyFolderKey, L"*", withVersion.str());
    CHECK(Version() == FakeVersion);
}

TEST_CASE("registered installs are searched by release channel") {
    CleanMachine clean;
    TempFolder stable, beta;
    MakeRuntime(stable.path, L"fake_client.dll");
    MakeRuntime(beta.path, L"fake_client_noversion.dll");

    CHECK(Version() == L"80070002");
    SetRegistryText(HKEY_LOCAL_MACHINE, ClientStateKey(L"Software\\WOW6432Node", StableGuid),
                    L"EBWebView", stable.str());
    // The beta registration names the EBWebView folder inside its runtime folder.
    SetRegistryText(HKEY_CURRENT_USER, ClientStateKey(L"Software", BetaGuid), L"EBWebView",
                    (beta.path / L"EBWebView").wstring());

    CHECK(Version() == FakeVersion);
    SetEnvironmentVariableW(L"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE", L"1");
    CHECK(Version() == L"80070714");
    SetEnvironmentVariableW(L"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE", nullptr);
    SetEnvironmentVariableW(L"WEBVIEW2_RELEASE_CHANNELS", L"1");
    CHECK(Version() == L"80070714");
    SetEnvironmentVariableW(L"WEBVIEW2_RELEASE_CHANNELS", L"0, 1");
    CHECK(Version() == FakeVersion);
    SetEnvironmentVariableW(L"WEBVIEW2_RELEASE_CHANNELS", L"3");
    CHECK(Version() == L"80070002");

    // A registration whose folder holds no client library is skipped.
    SetEnvironmentVariableW(L"WEBVIEW2_RELEASE_CHANNELS", nullptr);
    fs::remove_all(stable.path / L"EBWebView");
    CHECK(Version() == L"80070714");
}

TEST_CASE("the environment is created through the client library") {
    CleanMachine clean;
    TempFolder runtime, logs;
    MakeRuntime(runtime.path, L"fake_client.dll");
    fs::path log = logs.path / L"calls.txt";
    SetEnvironmentVariableW(L"OVRA_FAKE_CLIENT_LOG", log.c_str());

    // No runtime yet: nothing is called.
    CHECK(CreateCoreWebView2EnvironmentWithOptions(nullptr, L"C:\\data", FakeOptions,
                                                   FakeHandler) == NoRuntime);
    CHECK_FALSE(fs::exists(log));

    SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", runtime.str().c_str());
    CHECK(CreateCoreWebView2EnvironmentWithOptions(nullptr, nullptr, FakeOptions, nullptr) ==
          E_POINTER);
    CHECK_FALSE(fs::exists(log));

    CHECK(CreateCoreWebView2EnvironmentWithOptions(nullptr, L"C:\\user data", FakeOptions,
                                                   FakeHandler) == FakeClientResult);
    CHECK(ReadLog(log) == ExpectedCall("C:\\user data"));

    fs::remove(log);
    SetEnvironmentVariableW(L"WEBVIEW2_USER_DATA_FOLDER", L"D:\\elsewhere");
    CHECK(CreateCoreWebView2EnvironmentWithOptions(nullptr, L"C:\\user data", FakeOptions,
                                                   FakeHandler) == FakeClientResult);
    CHECK(ReadLog(log) == ExpectedCall("D:\\elsewhere"));
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
