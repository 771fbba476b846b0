#include "bridge/emit.h"

#include "base/globals.h"
#include "base/text.h"

#include <windows.h>

std::wstring BuildEmitScript(const char* eventName, const std::wstring& payload) {
    std::wstring script = L"window.__ovra && window.__ovra.emit('";
    script += Utf8ToWide(std::string(eventName));
    script += L"', ";
    script += payload.empty() ? std::wstring(L"null") : payload;
    script += L");";
    return script;
}

void EmitToPage(const char* eventName, const std::wstring& payload) {
    std::wstring script = BuildEmitScript(eventName, payload);
    if (!MainWindow)
        return;
    std::wstring* owned = new std::wstring(std::move(script));
    // The window procedure owns the string only once the post has succeeded.
    if (!PostMessageW(MainWindow, WM_RUN_SCRIPT, 0, reinterpret_cast<LPARAM>(owned)))
        delete owned;
}
