// Requests from the page: web messages arrive on the UI thread and are carried out there.
#pragma once

#include "webview2/webview2.h"

#include <string>

// Reads the message text (a posted string, else its JSON) and hands it to the bridge,
// but only when the document that posted it is the page we loaded (StartUrl): a frame
// or another document in the view gets no say over the host.
HRESULT OnWebMessageReceived(ICoreWebView2* sender, ICoreWebView2WebMessageReceivedEventArgs* args);
