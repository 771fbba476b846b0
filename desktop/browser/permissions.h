// What the page may use without the control asking the user: the camera and the
// microphone, which the user asked for with the cockpit's own buttons. Every other kind,
// and every other requester, is refused. Nothing is remembered in the profile, so no
// answer given once can stand in the way later.
#pragma once

#include "webview2/webview2.h"

HRESULT OnPermissionRequested(ICoreWebView2* sender,
                              ICoreWebView2PermissionRequestedEventArgs* args);

void AnswerPermissionRequests(ICoreWebView2* view);
