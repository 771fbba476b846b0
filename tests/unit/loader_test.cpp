#include <doctest/doctest.h>

#include "browser/loader.h"
#include "locator_fixtures.h"
#include "runtime_locator/locator.h"

using namespace fixtures;

namespace {

void* Export(HMODULE module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(module, name));
}

void* Entry(CreateEnvironmentFn fn) {
    return reinterpret_cast<void*>(fn);
}
void* Entry(BrowserVersionFn fn) {
    return reinterpret_cast<void*>(fn);
}

void* const LinkedCreate = Entry(&CreateCoreWebView2EnvironmentWithOptions);
void* const LinkedVersion = Entry(&GetAvailableCoreWebView2BrowserVersionString);

std::wstring ModuleFile(HMODULE module) {
    wchar_t path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(module, path, MAX_PATH * 4);
    return fs::path(std::wstring(path, n)).lexically_normal().wstring();
}

} // namespace

// One case, in this order: once a library named WebView2Loader.dll is loaded, the
// bare-name search would find it again, so the "absent" step has to come first.
TEST_CASE("loader entry points come from the library file beside the exe when usable") {
    TempFolder absent, lacking, present;

    // Absent: both entry points are the linked-in locator's.
    CHECK(ResolveLoader(absent.str()));
    CHECK(LoaderModule == nullptr);
    CHECK(Entry(CreateEnvironmentEntry) == LinkedCreate);
    CHECK(Entry(BrowserVersionEntry) == LinkedVersion);

    // Present but lacking the creation export: it stays loaded and unused, and its
    // version export is not taken either.
    fs::copy_file(Fixture(L"version_only_loader.dll"), lacking.path / L"WebView2Loader.dll");
    CHECK(ResolveLoader(lacking.str()));
    REQUIRE(LoaderModule != nullptr);
    CHECK(ModuleFile(LoaderModule) == (lacking.path / L"WebView2Loader.dll").wstring());
    REQUIRE(Export(LoaderModule, "GetAvailableCoreWebView2BrowserVersionString") != nullptr);
    CHECK(Entry(CreateEnvironmentEntry) == LinkedCreate);
    CHECK(Entry(BrowserVersionEntry) == LinkedVersion);

    // Present and complete: both entry points come from that file.
    fs::copy_file(Fixture(L"..\\..\\WebView2Loader.dll"), present.path / L"WebView2Loader.dll");
    CHECK(ResolveLoader(present.str()));
    REQUIRE(LoaderModule != nullptr);
    CHECK(ModuleFile(LoaderModule) == (present.path / L"WebView2Loader.dll").wstring());
    CHECK(Entry(CreateEnvironmentEntry) ==
          Export(LoaderModule, "CreateCoreWebView2EnvironmentWithOptions"));
    CHECK(Entry(BrowserVersionEntry) ==
          Export(LoaderModule, "GetAvailableCoreWebView2BrowserVersionString"));
    CHECK(Entry(CreateEnvironmentEntry) != LinkedCreate);

    // The file's entry points behave as the loader's: no handler, no runtime.
    CHECK(CreateEnvironmentEntry(nullptr, nullptr, nullptr, nullptr) == E_POINTER);
    LPWSTR version = nullptr;
    CHECK(BrowserVersionEntry(absent.str().c_str(), &version) == static_cast<HRESULT>(0x80070002));
}
