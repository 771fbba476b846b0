#include "browser/web_messages.h"

#include "base/globals.h"
#include "base/task_memory.h"
#include "browser/page_address.h"
#include "bridge/requests.h"

namespace {

// Copies a message text handed over by the browser and frees it; false when there was none.
bool TakeMessage(HRESULT hr, LPWSTR text, std::wstring& out) {
    bool have = SUCCEEDED(hr) && text;
    out = TakeTaskString(text);
    return have;
}

} // namespace

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
