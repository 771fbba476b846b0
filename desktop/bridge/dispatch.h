// Requests from the page: web messages arrive on the UI thread and are carried out there.
#pragma once

#include "browser/webview2.h"

#include <string>

// Reads the message text (a posted string, else its JSON) and dispatches it.
HRESULT OnWebMessageReceived(ICoreWebView2* sender, ICoreWebView2WebMessageReceivedEventArgs* args);

// Carries out one request given as the JSON text of an object.
void DispatchBridgeMessage(const std::wstring& message);
