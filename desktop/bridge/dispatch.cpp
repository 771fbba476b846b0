#include "bridge/dispatch.h"

#include <objbase.h>

namespace {

std::wstring TakeTaskString(LPWSTR text) {
    std::wstring copy = text ? std::wstring(text) : std::wstring();
    if (text)
        CoTaskMemFree(text);
    return copy;
}

} // namespace

HRESULT OnWebMessageReceived(ICoreWebView2*, ICoreWebView2WebMessageReceivedEventArgs* args) {
    if (!args)
        return S_OK;
    LPWSTR text = nullptr;
    HRESULT hr = args->TryGetWebMessageAsString(&text);
    std::wstring message = TakeTaskString(text);
    if (FAILED(hr)) {
        // Not a string: the page posted an object, so read its JSON text instead.
        text = nullptr;
        args->get_WebMessageAsJson(&text);
        message = TakeTaskString(text);
    }
    DispatchBridgeMessage(message);
    return S_OK;
}

// No request is recognised yet; every message is ignored without an answer.
void DispatchBridgeMessage(const std::wstring&) {}
