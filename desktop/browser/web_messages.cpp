#include "browser/web_messages.h"

#include "base/globals.h"
#include "base/task_memory.h"
#include "base/text.h"
#include "bridge/requests.h"

namespace {

// Copies a message text handed over by the browser and frees it; false when there was none.
bool TakeMessage(HRESULT hr, LPWSTR text, std::wstring& out) {
    bool have = SUCCEEDED(hr) && text;
    out = TakeTaskString(text);
    return have;
}

// The URL without its fragment, with every %XX escape decoded (as UTF-8).
std::string DocumentUrl(const std::wstring& url) {
    return PercentDecode(WideToUtf8(url.substr(0, url.find(L'#'))));
}

} // namespace

bool IsPageSource(const std::wstring& source, const std::wstring& startUrl) {
    return !source.empty() && DocumentUrl(source) == DocumentUrl(startUrl);
}

HRESULT OnWebMessageReceived(ICoreWebView2*, ICoreWebView2WebMessageReceivedEventArgs* args) {
    if (!args)
        return S_OK;
    std::wstring message;
    LPWSTR text = nullptr;
    HRESULT hr = args->get_Source(&text);
    if (!TakeMessage(hr, text, message) || !IsPageSource(message, StartUrl))
        return S_OK;

    text = nullptr;
    hr = args->TryGetWebMessageAsString(&text);
    if (TakeMessage(hr, text, message)) {
        DispatchBridgeMessage(message);
        return S_OK;
    }
    // Not a string: the page posted an object, so read its JSON text instead.
    text = nullptr;
    hr = args->get_WebMessageAsJson(&text);
    if (TakeMessage(hr, text, message))
        DispatchBridgeMessage(message);
    return S_OK;
}
