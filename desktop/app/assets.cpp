#include "app/assets.h"

#include "base/files.h"
#include "base/globals.h"
#include "base/paths.h"
#include "base/text.h"

#include <windows.h>

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

void ExtractAssets() {
    std::wstring pageDir = JoinPath(ExeDir, L"ui");
    CreateDirectoryW(pageDir.c_str(), nullptr);
    for (const AssetEntry& asset : PageAssets)
        WriteWholeFile(JoinPath(pageDir, Utf8ToWide(asset.name)), asset.data,
                       static_cast<size_t>(asset.length));
    WriteWholeFile(JoinPath(ExeDir, L"WebView2Loader.dll"), LoaderLibraryData,
                   static_cast<size_t>(LoaderLibraryLength));
}

std::wstring ChoosePagePath(const std::wstring& exeDir) {
    std::wstring page = JoinPath(exeDir, L"ui\\index.html");
    if (!FileExists(page))
        page = JoinPath(exeDir, L"desktop\\ui\\index.html");
    return page;
}
