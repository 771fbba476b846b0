// Requests from the page: web messages arrive on the UI thread and are carried out there.
#pragma once

#include "webview2/webview2.h"

#include <string>

// Reads the message text (a posted string, else its JSON) and hands it to the bridge,
// but only when the document that posted it is the page we loaded (StartUrl): a frame
// or another document in the view gets no say over the host.
HRESULT OnWebMessageReceived(ICoreWebView2* sender, ICoreWebView2WebMessageReceivedEventArgs* args);

// Whether a message source names the document at `startUrl`. Percent-escapes are
// compared decoded, since the browser may spell the URL it loaded with more of them
// than we did, and a fragment is ignored: it moves within the same document.
bool IsPageSource(const std::wstring& source, const std::wstring& startUrl);
