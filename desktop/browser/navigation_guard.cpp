#include "browser/navigation_guard.h"

#include "base/com_ptr.h"
#include "base/globals.h"
#include "base/task_memory.h"
#include "bridge/external_links.h"
#include "browser/browser_state.h"
#include "browser/com_objects.h"
#include "browser/failure_budget.h"
#include "browser/page_address.h"
#include "browser/process_failures.h"

#include <cwctype>

namespace {

using NavigationStartingHandler =
    CallbackObject<ICoreWebView2NavigationStartingEventHandler,
                   IID_ICoreWebView2NavigationStartingEventHandler, ICoreWebView2*,
                   ICoreWebView2NavigationStartingEventArgs*>;
using NewWindowHandler = CallbackObject<ICoreWebView2NewWindowRequestedEventHandler,
                                        IID_ICoreWebView2NewWindowRequestedEventHandler,
                                        ICoreWebView2*, ICoreWebView2NewWindowRequestedEventArgs*>;

// A page that keeps leaving is not brought back for ever.
FailureBudget PageReturns{60000, 3, {}};

// Timer id on MainWindow: the control's own event is no place to navigate from.
constexpr UINT_PTR ReturnTimer = 0x4f03;

void CALLBACK ReturnNow(HWND window, UINT, UINT_PTR id, DWORD) {
    KillTimer(window, id);
    if (BrowserView)
        BrowserView->Navigate(StartUrl.c_str());
}

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

bool KeepPageShown(ICoreWebView2* view) {
    LPWSTR text = nullptr;
    HRESULT hr = view ? view->get_Source(&text) : E_POINTER;
    std::wstring source = TakeTaskString(text);
    if (FAILED(hr) || IsPageSource(source, StartUrl) || !MainWindow)
        return true;
    if (SpendRetry(PageReturns, GetTickCount64()))
        SetTimer(MainWindow, ReturnTimer, 0, ReturnNow);
    else
        GiveUpOnPage();
    return false;
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
