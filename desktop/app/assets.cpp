#include "app/assets.h"

#include "app/globals.h"
#include "app/paths.h"

#include <windows.h>

#include <cstring>
#include <string>

extern "C" {
extern const unsigned char ovra_asset_index_html[], ovra_asset_app_css[], ovra_asset_app_js[],
    ovra_asset_loader_dll[];
extern const uint64_t ovra_asset_index_html_size, ovra_asset_app_css_size, ovra_asset_app_js_size,
    ovra_asset_loader_dll_size;
}

const AssetEntry PageAssets[3] = {
    {"index.html", ovra_asset_index_html, ovra_asset_index_html_size},
    {"app.css", ovra_asset_app_css, ovra_asset_app_css_size},
    {"app.js", ovra_asset_app_js, ovra_asset_app_js_size},
};
const unsigned char* const LoaderLibraryData = ovra_asset_loader_dll;
const uint64_t LoaderLibraryLength = ovra_asset_loader_dll_size;

namespace {

std::wstring WideName(const char* utf8) {
    int n = static_cast<int>(std::strlen(utf8));
    if (n == 0)
        return std::wstring();
    int len = MultiByteToWideChar(CP_UTF8, 0, utf8, n, nullptr, 0);
    std::wstring wide(len, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, n, &wide[0], len);
    return wide;
}

void WriteWholeFile(const std::wstring& path, const unsigned char* data, uint64_t length) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, data, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
}

} // namespace

void ExtractAssets() {
    std::wstring pageDir = JoinPath(ExeDir, L"ui");
    CreateDirectoryW(pageDir.c_str(), nullptr);
    for (const AssetEntry& asset : PageAssets)
        WriteWholeFile(JoinPath(pageDir, WideName(asset.name)), asset.data, asset.length);
    WriteWholeFile(JoinPath(ExeDir, L"WebView2Loader.dll"), LoaderLibraryData, LoaderLibraryLength);
}
