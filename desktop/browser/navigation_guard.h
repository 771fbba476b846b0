// Keeps the view on our page. Whatever else would replace it (a link or file dropped onto
// the window, a script or link going elsewhere, a page asking for a window of its own)
// is stopped; web links a page opens in a new window go to the user's own browser.
#pragma once

#include "webview2/webview2.h"

// Cancels every top-level navigation to anything but StartUrl (a reload of it, or a
// move within it, still goes ahead).
HRESULT OnNavigationStarting(ICoreWebView2* sender, ICoreWebView2NavigationStartingEventArgs* args);

// No window of the control's own, ever: an http(s) address goes to the user's browser
// through the same check as the page's "openExternal" request, anything else is dropped.
HRESULT OnNewWindowRequested(ICoreWebView2* sender, ICoreWebView2NewWindowRequestedEventArgs* args);

// The view has finished a navigation: true when it shows our page (or its address cannot
// be read). Anything else (about:blank, which the control shows whatever the host
// answered before it; an error page; a navigation it did not let us cancel) is replaced
// by the page once the control's event has returned, up to three times a minute; past
// that the window shows the page's notice.
bool KeepPageShown(ICoreWebView2* view);

// Turns off dropping files and links onto the view where the control offers that (a
// runtime too old for it keeps dropping on, and the navigation check stops the drop).
// Then registers both handlers above on the view.
void LockViewToPage(ICoreWebView2Controller* controller, ICoreWebView2* view);
