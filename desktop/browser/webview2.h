// Declarations of the browser control's COM interfaces, written from its published
// binary interface. Only slot order and calling convention matter to the ABI; methods
// we never call keep their slot with loose parameter types.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <unknwn.h>

struct EventRegistrationToken {
    __int64 value;
};

enum COREWEBVIEW2_MOVE_FOCUS_REASON : int { COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC = 0 };
enum COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT : int {};
enum COREWEBVIEW2_WEB_ERROR_STATUS : int {};
enum COREWEBVIEW2_WEB_RESOURCE_CONTEXT : int {};

struct ICoreWebView2;
struct ICoreWebView2Settings;
struct ICoreWebView2Controller;
struct ICoreWebView2Environment;
struct ICoreWebView2WebMessageReceivedEventArgs;
struct ICoreWebView2NavigationCompletedEventArgs;

#define OVRA_DECLARE_IID(name, l, w1, w2, b0, b1, b2, b3, b4, b5, b6, b7)                          \
    inline constexpr IID IID_##name = {l, w1, w2, {b0, b1, b2, b3, b4, b5, b6, b7}};

OVRA_DECLARE_IID(ICoreWebView2EnvironmentOptions, 0x2fde08a8, 0x1e9a, 0x4766, 0x8c, 0x05, 0x95,
                 0xa9, 0xce, 0xb9, 0xd1, 0xc5)
OVRA_DECLARE_IID(ICoreWebView2Environment, 0xb96d755e, 0x0319, 0x4e92, 0xa2, 0x96, 0x23, 0x43, 0x6f,
                 0x46, 0xa1, 0xfc)
OVRA_DECLARE_IID(ICoreWebView2Controller, 0x4d00c0d1, 0x9434, 0x4eb6, 0x80, 0x78, 0x86, 0x97, 0xa5,
                 0x60, 0x33, 0x4f)
OVRA_DECLARE_IID(ICoreWebView2, 0x76eceacb, 0x0462, 0x4d94, 0xac, 0x83, 0x42, 0x3a, 0x67, 0x93,
                 0x77, 0x5e)
OVRA_DECLARE_IID(ICoreWebView2Settings, 0xe562e4f0, 0xd7fa, 0x43ac, 0x8d, 0x71, 0xc0, 0x51, 0x50,
                 0x49, 0x9f, 0x00)
OVRA_DECLARE_IID(ICoreWebView2WebMessageReceivedEventArgs, 0x0f99a40c, 0xe962, 0x4207, 0x9e, 0x92,
                 0xe3, 0xd5, 0x42, 0xef, 0xf8, 0x49)
OVRA_DECLARE_IID(ICoreWebView2NavigationCompletedEventArgs, 0x30d68b7d, 0x20d9, 0x4752, 0xa9, 0xca,
                 0xec, 0x84, 0x48, 0xfb, 0xb5, 0xc1)
OVRA_DECLARE_IID(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler, 0x4e8a3389, 0xc9d8,
                 0x4bd2, 0xb6, 0xb5, 0x12, 0x4f, 0xee, 0x6c, 0xc1, 0x4d)
OVRA_DECLARE_IID(ICoreWebView2CreateCoreWebView2ControllerCompletedHandler, 0x6c4819f3, 0xc9b7,
                 0x4260, 0x81, 0x27, 0xc9, 0xf5, 0xbd, 0xe7, 0xf6, 0x8c)
OVRA_DECLARE_IID(ICoreWebView2WebMessageReceivedEventHandler, 0x57213f19, 0x00e6, 0x49fa, 0x8e,
                 0x07, 0x89, 0x8e, 0xa0, 0x1e, 0xcb, 0xd2)
OVRA_DECLARE_IID(ICoreWebView2NavigationCompletedEventHandler, 0xd33a35bf, 0x1c49, 0x4f98, 0x93,
                 0xab, 0x00, 0x6e, 0x05, 0x33, 0xfe, 0x1c)
OVRA_DECLARE_IID(ICoreWebView2ExecuteScriptCompletedHandler, 0x49511172, 0xcc67, 0x4bca, 0x99, 0x23,
                 0x13, 0x71, 0x12, 0xf4, 0xc4, 0xcc)
OVRA_DECLARE_IID(ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler, 0xb99369f3,
                 0x9b11, 0x47b5, 0xbc, 0x6f, 0x8e, 0x78, 0x95, 0xfc, 0xea, 0x17)

#undef OVRA_DECLARE_IID

#define OVRA_M(name, ...) virtual HRESULT STDMETHODCALLTYPE name(__VA_ARGS__) = 0
#define OVRA_EVENT(name)                                                                           \
    OVRA_M(add_##name, IUnknown* handler, EventRegistrationToken* token);                          \
    OVRA_M(remove_##name, EventRegistrationToken token)

struct ICoreWebView2EnvironmentOptions : public IUnknown {
    OVRA_M(get_AdditionalBrowserArguments, LPWSTR* value);
    OVRA_M(put_AdditionalBrowserArguments, LPCWSTR value);
    OVRA_M(get_Language, LPWSTR* value);
    OVRA_M(put_Language, LPCWSTR value);
    OVRA_M(get_TargetCompatibleBrowserVersion, LPWSTR* value);
    OVRA_M(put_TargetCompatibleBrowserVersion, LPCWSTR value);
    OVRA_M(get_AllowSingleSignOnUsingOSPrimaryAccount, BOOL* allow);
    OVRA_M(put_AllowSingleSignOnUsingOSPrimaryAccount, BOOL allow);
};

struct ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler : public IUnknown {
    OVRA_M(Invoke, HRESULT errorCode, ICoreWebView2Environment* result);
};
struct ICoreWebView2CreateCoreWebView2ControllerCompletedHandler : public IUnknown {
    OVRA_M(Invoke, HRESULT errorCode, ICoreWebView2Controller* result);
};
struct ICoreWebView2WebMessageReceivedEventHandler : public IUnknown {
    OVRA_M(Invoke, ICoreWebView2* sender, ICoreWebView2WebMessageReceivedEventArgs* args);
};
struct ICoreWebView2NavigationCompletedEventHandler : public IUnknown {
    OVRA_M(Invoke, ICoreWebView2* sender, ICoreWebView2NavigationCompletedEventArgs* args);
};
struct ICoreWebView2ExecuteScriptCompletedHandler : public IUnknown {
    OVRA_M(Invoke, HRESULT errorCode, LPCWSTR resultObjectAsJson);
};
struct ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler : public IUnknown {
    OVRA_M(Invoke, HRESULT errorCode, LPCWSTR id);
};

struct ICoreWebView2Environment : public IUnknown {
    OVRA_M(CreateCoreWebView2Controller, HWND parentWindow,
           ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler);
    OVRA_M(CreateWebResourceResponse, IStream* content, int statusCode, LPCWSTR reasonPhrase,
           LPCWSTR headers, IUnknown** response);
    OVRA_M(get_BrowserVersionString, LPWSTR* versionInfo);
    OVRA_EVENT(NewBrowserVersionAvailable);
};

struct ICoreWebView2Controller : public IUnknown {
    OVRA_M(get_IsVisible, BOOL* isVisible);
    OVRA_M(put_IsVisible, BOOL isVisible);
    OVRA_M(get_Bounds, RECT* bounds);
    OVRA_M(put_Bounds, RECT bounds);
    OVRA_M(get_ZoomFactor, double* zoomFactor);
    OVRA_M(put_ZoomFactor, double zoomFactor);
    OVRA_EVENT(ZoomFactorChanged);
    OVRA_M(SetBoundsAndZoomFactor, RECT bounds, double zoomFactor);
    OVRA_M(MoveFocus, COREWEBVIEW2_MOVE_FOCUS_REASON reason);
    OVRA_EVENT(MoveFocusRequested);
    OVRA_EVENT(GotFocus);
    OVRA_EVENT(LostFocus);
    OVRA_EVENT(AcceleratorKeyPressed);
    OVRA_M(get_ParentWindow, HWND* parentWindow);
    OVRA_M(put_ParentWindow, HWND parentWindow);
    OVRA_M(NotifyParentWindowPositionChanged);
    OVRA_M(Close);
    OVRA_M(get_CoreWebView2, ICoreWebView2** coreWebView2);
};

struct ICoreWebView2Settings : public IUnknown {
    OVRA_M(get_IsScriptEnabled, BOOL* value);
    OVRA_M(put_IsScriptEnabled, BOOL value);
    OVRA_M(get_IsWebMessageEnabled, BOOL* value);
    OVRA_M(put_IsWebMessageEnabled, BOOL value);
    OVRA_M(get_AreDefaultScriptDialogsEnabled, BOOL* value);
    OVRA_M(put_AreDefaultScriptDialogsEnabled, BOOL value);
    OVRA_M(get_IsStatusBarEnabled, BOOL* value);
    OVRA_M(put_IsStatusBarEnabled, BOOL value);
    OVRA_M(get_AreDevToolsEnabled, BOOL* value);
    OVRA_M(put_AreDevToolsEnabled, BOOL value);
    OVRA_M(get_AreDefaultContextMenusEnabled, BOOL* value);
    OVRA_M(put_AreDefaultContextMenusEnabled, BOOL value);
    OVRA_M(get_AreHostObjectsAllowed, BOOL* value);
    OVRA_M(put_AreHostObjectsAllowed, BOOL value);
    OVRA_M(get_IsZoomControlEnabled, BOOL* value);
    OVRA_M(put_IsZoomControlEnabled, BOOL value);
    OVRA_M(get_IsBuiltInErrorPageEnabled, BOOL* value);
    OVRA_M(put_IsBuiltInErrorPageEnabled, BOOL value);
};

struct ICoreWebView2WebMessageReceivedEventArgs : public IUnknown {
    OVRA_M(get_Source, LPWSTR* source);
    OVRA_M(get_WebMessageAsJson, LPWSTR* webMessageAsJson);
    OVRA_M(TryGetWebMessageAsString, LPWSTR* webMessageAsString);
};

struct ICoreWebView2NavigationCompletedEventArgs : public IUnknown {
    OVRA_M(get_IsSuccess, BOOL* isSuccess);
    OVRA_M(get_WebErrorStatus, COREWEBVIEW2_WEB_ERROR_STATUS* webErrorStatus);
    OVRA_M(get_NavigationId, UINT64* navigationId);
};

struct ICoreWebView2 : public IUnknown {
    OVRA_M(get_Settings, ICoreWebView2Settings** settings);
    OVRA_M(get_Source, LPWSTR* uri);
    OVRA_M(Navigate, LPCWSTR uri);
    OVRA_M(NavigateToString, LPCWSTR htmlContent);
    OVRA_EVENT(NavigationStarting);
    OVRA_EVENT(ContentLoading);
    OVRA_EVENT(SourceChanged);
    OVRA_EVENT(HistoryChanged);
    OVRA_M(add_NavigationCompleted, ICoreWebView2NavigationCompletedEventHandler* handler,
           EventRegistrationToken* token);
    OVRA_M(remove_NavigationCompleted, EventRegistrationToken token);
    OVRA_EVENT(FrameNavigationStarting);
    OVRA_EVENT(FrameNavigationCompleted);
    OVRA_EVENT(ScriptDialogOpening);
    OVRA_EVENT(PermissionRequested);
    OVRA_EVENT(ProcessFailed);
    OVRA_M(AddScriptToExecuteOnDocumentCreated, LPCWSTR javaScript,
           ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* handler);
    OVRA_M(RemoveScriptToExecuteOnDocumentCreated, LPCWSTR id);
    OVRA_M(ExecuteScript, LPCWSTR javaScript, ICoreWebView2ExecuteScriptCompletedHandler* handler);
    OVRA_M(CapturePreview, COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT imageFormat,
           IStream* imageStream, IUnknown* handler);
    OVRA_M(Reload);
    OVRA_M(PostWebMessageAsJson, LPCWSTR webMessageAsJson);
    OVRA_M(PostWebMessageAsString, LPCWSTR webMessageAsString);
    OVRA_M(add_WebMessageReceived, ICoreWebView2WebMessageReceivedEventHandler* handler,
           EventRegistrationToken* token);
    OVRA_M(remove_WebMessageReceived, EventRegistrationToken token);
    OVRA_M(CallDevToolsProtocolMethod, LPCWSTR methodName, LPCWSTR parametersAsJson,
           IUnknown* handler);
    OVRA_M(get_BrowserProcessId, UINT32* value);
    OVRA_M(get_CanGoBack, BOOL* canGoBack);
    OVRA_M(get_CanGoForward, BOOL* canGoForward);
    OVRA_M(GoBack);
    OVRA_M(GoForward);
    OVRA_M(GetDevToolsProtocolEventReceiver, LPCWSTR eventName, IUnknown** receiver);
    OVRA_M(Stop);
    OVRA_EVENT(NewWindowRequested);
    OVRA_EVENT(DocumentTitleChanged);
    OVRA_M(get_DocumentTitle, LPWSTR* title);
    OVRA_M(AddHostObjectToScript, LPCWSTR name, VARIANT* object);
    OVRA_M(RemoveHostObjectFromScript, LPCWSTR name);
    OVRA_M(OpenDevToolsWindow);
    OVRA_EVENT(ContainsFullScreenElementChanged);
    OVRA_M(get_ContainsFullScreenElement, BOOL* containsFullScreenElement);
    OVRA_EVENT(WebResourceRequested);
    OVRA_M(AddWebResourceRequestedFilter, LPCWSTR uri,
           COREWEBVIEW2_WEB_RESOURCE_CONTEXT resourceContext);
    OVRA_M(RemoveWebResourceRequestedFilter, LPCWSTR uri,
           COREWEBVIEW2_WEB_RESOURCE_CONTEXT resourceContext);
    OVRA_EVENT(WindowCloseRequested);
};

#undef OVRA_EVENT
#undef OVRA_M

// The loader's two entry points.
using CreateEnvironmentFn = HRESULT(STDAPICALLTYPE*)(
    PCWSTR browserExecutableFolder, PCWSTR userDataFolder, ICoreWebView2EnvironmentOptions* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);
using BrowserVersionFn = HRESULT(STDAPICALLTYPE*)(PCWSTR browserExecutableFolder,
                                                  LPWSTR* versionInfo);
