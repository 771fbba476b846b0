#include "browser/permissions.h"

#include "base/com_ptr.h"
#include "base/globals.h"
#include "base/task_memory.h"
#include "browser/com_objects.h"
#include "browser/page_address.h"

namespace {

using PermissionHandler =
    CallbackObject<ICoreWebView2PermissionRequestedEventHandler,
                   IID_ICoreWebView2PermissionRequestedEventHandler, ICoreWebView2*,
                   ICoreWebView2PermissionRequestedEventArgs*>;

bool IsAllowed(ICoreWebView2PermissionRequestedEventArgs* args) {
    COREWEBVIEW2_PERMISSION_KIND kind = COREWEBVIEW2_PERMISSION_KIND_UNKNOWN_PERMISSION;
    if (FAILED(args->get_PermissionKind(&kind)) ||
        (kind != COREWEBVIEW2_PERMISSION_KIND_CAMERA &&
         kind != COREWEBVIEW2_PERMISSION_KIND_MICROPHONE))
        return false;
    LPWSTR text = nullptr;
    HRESULT hr = args->get_Uri(&text);
    std::wstring uri = TakeTaskString(text);
    return SUCCEEDED(hr) && IsPageOrigin(uri, StartUrl);
}

} // namespace

HRESULT OnPermissionRequested(ICoreWebView2*, ICoreWebView2PermissionRequestedEventArgs* args) {
    if (!args)
        return S_OK;
    args->put_State(IsAllowed(args) ? COREWEBVIEW2_PERMISSION_STATE_ALLOW
                                    : COREWEBVIEW2_PERMISSION_STATE_DENY);
    ComPtr<ICoreWebView2PermissionRequestedEventArgs3> once;
    if (SUCCEEDED(args->QueryInterface(IID_ICoreWebView2PermissionRequestedEventArgs3,
                                       reinterpret_cast<void**>(once.Receive()))) &&
        once)
        once->put_SavesInProfile(FALSE);
    return S_OK;
}

void AnswerPermissionRequests(ICoreWebView2* view) {
    EventRegistrationToken token{};
    ComPtr<PermissionHandler> handler(new PermissionHandler(OnPermissionRequested));
    view->add_PermissionRequested(handler.Get(), &token);
}
