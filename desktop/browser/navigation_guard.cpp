#include "browser/navigation_guard.h"

#include "base/com_ptr.h"
#include "base/globals.h"
#include "base/task_memory.h"
#include "bridge/requests.h"
#include "browser/com_objects.h"
#include "browser/page_address.h"

#include <cwctype>

namespace {

using NavigationStartingHandler =
    CallbackObject<ICoreWebView2NavigationStartingEventHandler,
                   IID_ICoreWebView2NavigationStartingEventHandler, ICoreWebView2*,
                   ICoreWebView2NavigationStartingEventArgs*>;
using NewWindowHandler = CallbackObject<ICoreWebView2NewWindowRequestedEventHandler,
                                        IID_ICoreWebView2NewWindowRequestedEventHandler,
                                        ICoreWebView2*, ICoreWebView2NewWindowRequestedEventArgs*>;

bool IsWebLink(const std::wstring& url) {
    std::wstring scheme = url.substr(0, url.find(L':'));
    for (wchar_t& c : scheme)
        c = static_cast<wchar_t>(std::towlower(c));
    return scheme == L"http" || scheme == L"https";
}

} // namespace

HRESULT OnNavigationStarting(ICoreWebView2*, ICoreWebView2NavigationStartingEventArgs* args) {
    if (!args)
        return S_OK;
    LPWSTR text = nullptr;
    HRESULT hr = args->get_Uri(&text);
    std::wstring uri = TakeTaskString(text);
    // An address that cannot be read is not known to be ours.
    if (FAILED(hr) || !IsPageSource(uri, StartUrl))
        args->put_Cancel(TRUE);
    return S_OK;
}

HRESULT OnNewWindowRequested(ICoreWebView2*, ICoreWebView2NewWindowRequestedEventArgs* args) {
    if (!args)
        return S_OK;
    args->put_Handled(TRUE);
    LPWSTR text = nullptr;
    HRESULT hr = args->get_Uri(&text);
    std::wstring uri = TakeTaskString(text);
    if (SUCCEEDED(hr) && IsWebLink(uri))
        OpenExternal(uri);
    return S_OK;
}

void LockViewToPage(ICoreWebView2Controller* controller, ICoreWebView2* view) {
    ComPtr<ICoreWebView2Controller4> droppable;
    if (controller &&
        SUCCEEDED(controller->QueryInterface(IID_ICoreWebView2Controller4,
                                             reinterpret_cast<void**>(droppable.Receive()))) &&
        droppable)
        droppable->put_AllowExternalDrop(FALSE);

    EventRegistrationToken token{};
    ComPtr<NavigationStartingHandler> navigations(
        new NavigationStartingHandler(OnNavigationStarting));
    view->add_NavigationStarting(navigations.Get(), &token);
    ComPtr<NewWindowHandler> windows(new NewWindowHandler(OnNewWindowRequested));
    view->add_NewWindowRequested(windows.Get(), &token);
}
