// Helpers for tests that lay out fake browser runtimes and loader libraries on disk.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

namespace fixtures {

namespace fs = std::filesystem;

// Test doubles are built next to the test executables.
inline fs::path Fixture(const wchar_t* name) {
    wchar_t exe[MAX_PATH * 4];
    GetModuleFileNameW(nullptr, exe, MAX_PATH * 4);
    return fs::path(exe).parent_path() / name;
}

// A fresh, empty folder under the temporary folder, removed again on destruction.
struct TempFolder {
    fs::path path;
    TempFolder() {
        static int counter = 0;
        path = fs::temp_directory_path() / (L"ovra-test-" + std::to_wstring(GetCurrentProcessId()) +
                                            L"-" + std::to_wstring(++counter));
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::wstring str() const { return path.wstring(); }
};

// Lays out `root` as a runtime folder whose client library is the given fixture.
inline void MakeRuntime(const fs::path& root, const wchar_t* clientFixture) {
    fs::create_directories(root / L"EBWebView" / L"x64");
    fs::copy_file(Fixture(clientFixture),
                  root / L"EBWebView" / L"x64" / L"EmbeddedBrowserWebView.dll",
                  fs::copy_options::overwrite_existing);
}

} // namespace fixtures
