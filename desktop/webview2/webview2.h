// Declarations of the browser control's COM interfaces (shared by the host and the runtime
// locator), written from its published
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
enum COREWEBVIEW2_BOUNDS_MODE : int {};

enum COREWEBVIEW2_PROCESS_FAILED_KIND : int {
    COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED = 0,
    COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED = 1,
    COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE = 2,
    COREWEBVIEW2_PROCESS_FAILED_KIND_FRAME_RENDER_PROCESS_EXITED = 3,
    COREWEBVIEW2_PROCESS_FAILED_KIND_UTILITY_PROCESS_EXITED = 4,
    COREWEBVIEW2_PROCESS_FAILED_KIND_SANDBOX_HELPER_PROCESS_EXITED = 5,
    COREWEBVIEW2_PROCESS_FAILED_KIND_GPU_PROCESS_EXITED = 6,
    COREWEBVIEW2_PROCESS_FAILED_KIND_PPAPI_PLUGIN_PROCESS_EXITED = 7,
    COREWEBVIEW2_PROCESS_FAILED_KIND_PPAPI_BROKER_PROCESS_EXITED = 8,
    COREWEBVIEW2_PROCESS_FAILED_KIND_UNKNOWN_PROCESS_EXITED = 9,
};
enum COREWEBVIEW2_PERMISSION_KIND : int {
    COREWEBVIEW2_PERMISSION_KIND_UNKNOWN_PERMISSION = 0,
    COREWEBVIEW2_PERMISSION_KIND_MICROPHONE = 1,
    COREWEBVIEW2_PERMISSION_KIND_CAMERA = 2,
    COREWEBVIEW2_PERMISSION_KIND_GEOLOCATION = 3,
    COREWEBVIEW2_PERMISSION_KIND_NOTIFICATIONS = 4,
    COREWEBVIEW2_PERMISSION_KIND_OTHER_SENSORS = 5,
    COREWEBVIEW2_PERMISSION_KIND_CLIPBOARD_READ = 6,
    COREWEBVIEW2_PERMISSION_KIND_MULTIPLE_AUTOMATIC_DOWNLOADS = 7,
    COREWEBVIEW2_PERMISSION_KIND_FILE_READ_WRITE = 8,
    COREWEBVIEW2_PERMISSION_KIND_AUTOPLAY = 9,
    COREWEBVIEW2_PERMISSION_KIND_LOCAL_FONTS = 10,
    COREWEBVIEW2_PERMISSION_KIND_MIDI_SYSTEM_EXCLUSIVE_MESSAGES = 11,
    COREWEBVIEW2_PERMISSION_KIND_WINDOW_MANAGEMENT = 12,
};
enum COREWEBVIEW2_PERMISSION_STATE : int {
    COREWEBVIEW2_PERMISSION_STATE_DEFAULT = 0,
    COREWEBVIEW2_PERMISSION_STATE_ALLOW = 1,
    COREWEBVIEW2_PERMISSION_STATE_DENY = 2,
};
enum COREWEBVIEW2_BROWSER_PROCESS_EXIT_KIND : int {
    COREWEBVIEW2_BROWSER_PROCESS_EXIT_KIND_NORMAL = 0,
    COREWEBVIEW2_BROWSER_PROCESS_EXIT_KIND_FAILED = 1,
};
struct COREWEBVIEW2_COLOR {
    BYTE A, R, G, B;
};

struct ICoreWebView2;
struct ICoreWebView2Settings;
struct ICoreWebView2Controller;
struct ICoreWebView2Environment;
struct ICoreWebView2WebMessageReceivedEventArgs;
struct ICoreWebView2NavigationCompletedEventArgs;
struct ICoreWebView2ProcessFailedEventArgs;
struct ICoreWebView2NavigationStartingEventArgs;
struct ICoreWebView2NewWindowRequestedEventArgs;
struct ICoreWebView2PermissionRequestedEventArgs;
struct ICoreWebView2BrowserProcessExitedEventArgs;
struct ICoreWebView2Deferral;

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
OVRA_DECLARE_IID(ICoreWebView2Controller2, 0xc979903e, 0xd4ca, 0x4228, 0x92, 0xeb, 0x47, 0xee, 0x3f,
                 0xa9, 0x6e, 0xab)
OVRA_DECLARE_IID(ICoreWebView2Controller3, 0xf9614724, 0x5d2b, 0x41dc, 0xae, 0xf7, 0x73, 0xd6, 0x2b,
                 0x51, 0x54, 0x3b)
OVRA_DECLARE_IID(ICoreWebView2Controller4, 0x97d418d5, 0xa426, 0x4e49, 0xa1, 0x51, 0xe1, 0xa1, 0x0f,
                 0x32, 0x7d, 0x9e)
OVRA_DECLARE_IID(ICoreWebView2Environment2, 0x41f3632b, 0x5ef4, 0x404f, 0xad, 0x82, 0x2d, 0x60,
                 0x6c, 0x5a, 0x9a, 0x21)
OVRA_DECLARE_IID(ICoreWebView2Environment3, 0x80a22ae3, 0xbe7c, 0x4ce2, 0xaf, 0xe1, 0x5a, 0x50,
                 0x05, 0x6c, 0xdb, 0xeb)
OVRA_DECLARE_IID(ICoreWebView2Environment4, 0x20944379, 0x6dcf, 0x41d6, 0xa0, 0xa0, 0xab, 0xc0,
                 0xfc, 0x50, 0xde, 0x0d)
OVRA_DECLARE_IID(ICoreWebView2Environment5, 0x319e423d, 0xe0d7, 0x4b8d, 0x92, 0x54, 0xae, 0x94,
                 0x75, 0xde, 0x9b, 0x17)
OVRA_DECLARE_IID(ICoreWebView2ProcessFailedEventArgs, 0x8155a9a4, 0x1474, 0x4a86, 0x8c, 0xae, 0x15,
                 0x1b, 0x0f, 0xa6, 0xb8, 0xca)
OVRA_DECLARE_IID(ICoreWebView2NavigationStartingEventArgs, 0x5b495469, 0xe119, 0x438a, 0x9b, 0x18,
                 0x76, 0x04, 0xf2, 0x5f, 0x2e, 0x49)
OVRA_DECLARE_IID(ICoreWebView2NewWindowRequestedEventArgs, 0x34acb11c, 0xfc37, 0x4418, 0x91, 0x32,
                 0xf9, 0xc2, 0x1d, 0x1e, 0xaf, 0xb9)
OVRA_DECLARE_IID(ICoreWebView2PermissionRequestedEventArgs, 0x973ae2ef, 0xff18, 0x4894, 0x8f, 0xb2,
                 0x3c, 0x75, 0x8f, 0x04, 0x68, 0x10)
OVRA_DECLARE_IID(ICoreWebView2PermissionRequestedEventArgs2, 0x74d7127f, 0x9de6, 0x4200, 0x87, 0x34,
                 0x42, 0xd6, 0xfb, 0x4f, 0xf7, 0x41)
OVRA_DECLARE_IID(ICoreWebView2PermissionRequestedEventArgs3, 0xe61670bc, 0x3dce, 0x4177, 0x86, 0xd2,
                 0xc6, 0x29, 0xae, 0x3c, 0xb6, 0xac)
OVRA_DECLARE_IID(ICoreWebView2BrowserProcessExitedEventArgs, 0x1f00663f, 0xaf8c, 0x4782, 0x9c, 0xdd,
                 0xdd, 0x01, 0xc5, 0x2e, 0x34, 0xcb)
OVRA_DECLARE_IID(ICoreWebView2Deferral, 0xc10e7f7b, 0xb585, 0x46f0, 0xa6, 0x23, 0x8b, 0xef, 0xbf,
                 0x3e, 0x4e, 0xe0)
OVRA_DECLARE_IID(ICoreWebView2ProcessFailedEventHandler, 0x79e0aea4, 0x990b, 0x42d9, 0x8a, 0x1d,
                 0x0f, 0xcc, 0x2e, 0x5b, 0xc7, 0xf1)
OVRA_DECLARE_IID(ICoreWebView2NavigationStartingEventHandler, 0x9adbe429, 0xf36d, 0x432b, 0x9d,
                 0xdc, 0xf8, 0x88, 0x1f, 0xbd, 0x76, 0xe3)
OVRA_DECLARE_IID(ICoreWebView2NewWindowRequestedEventHandler, 0xd4c185fe, 0xc81c, 0x4989, 0x97,
                 0xad, 0x2d, 0x3f, 0xa7, 0xab, 0x56, 0x51)
OVRA_DECLARE_IID(ICoreWebView2PermissionRequestedEventHandler, 0x15e1c6a3, 0xc72a, 0x4df3, 0x91,
                 0xd7, 0xd0, 0x97, 0xfb, 0xed, 0x6b, 0xfd)
OVRA_DECLARE_IID(ICoreWebView2BrowserProcessExitedEventHandler, 0xfa504257, 0xa216, 0x4911, 0xa8,
                 0x6c, 0xfe, 0x8c, 0x82, 0x5e, 0x28, 0x61)
OVRA_DECLARE_IID(ICoreWebView2NewBrowserVersionAvailableEventHandler, 0xf9a2976e, 0xd34e, 0x44fc,
                 0xad, 0xee, 0x81, 0xb6, 0xb5, 0x7c, 0xa9, 0x14)

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

// Later versions of the controller and environment, reached with QueryInterface; a runtime
// too old for one answers E_NOINTERFACE.
struct ICoreWebView2Controller2 : public ICoreWebView2Controller {
    OVRA_M(get_DefaultBackgroundColor, COREWEBVIEW2_COLOR* color);
    OVRA_M(put_DefaultBackgroundColor, COREWEBVIEW2_COLOR color);
};
struct ICoreWebView2Controller3 : public ICoreWebView2Controller2 {
    OVRA_M(get_RasterizationScale, double* scale);
    OVRA_M(put_RasterizationScale, double scale);
    OVRA_M(get_ShouldDetectMonitorScaleChanges, BOOL* value);
    OVRA_M(put_ShouldDetectMonitorScaleChanges, BOOL value);
    OVRA_EVENT(RasterizationScaleChanged);
    OVRA_M(get_BoundsMode, COREWEBVIEW2_BOUNDS_MODE* boundsMode);
    OVRA_M(put_BoundsMode, COREWEBVIEW2_BOUNDS_MODE boundsMode);
};
struct ICoreWebView2Controller4 : public ICoreWebView2Controller3 {
    OVRA_M(get_AllowExternalDrop, BOOL* value);
    OVRA_M(put_AllowExternalDrop, BOOL value);
};

struct ICoreWebView2BrowserProcessExitedEventHandler : public IUnknown {
    OVRA_M(Invoke, ICoreWebView2Environment* sender,
           ICoreWebView2BrowserProcessExitedEventArgs* args);
};
struct ICoreWebView2NewBrowserVersionAvailableEventHandler : public IUnknown {
    OVRA_M(Invoke, ICoreWebView2Environment* sender, IUnknown* args);
};

struct ICoreWebView2Environment2 : public ICoreWebView2Environment {
    OVRA_M(CreateWebResourceRequest, LPCWSTR uri, LPCWSTR method, IStream* postData,
           LPCWSTR headers, IUnknown** request);
};
struct ICoreWebView2Environment3 : public ICoreWebView2Environment2 {
    OVRA_M(CreateCoreWebView2CompositionController, HWND parentWindow, IUnknown* handler);
    OVRA_M(CreateCoreWebView2PointerInfo, IUnknown** pointerInfo);
};
struct ICoreWebView2Environment4 : public ICoreWebView2Environment3 {
    OVRA_M(GetAutomationProviderForWindow, HWND hwnd, IUnknown** provider);
};
struct ICoreWebView2Environment5 : public ICoreWebView2Environment4 {
    OVRA_M(add_BrowserProcessExited, ICoreWebView2BrowserProcessExitedEventHandler* handler,
           EventRegistrationToken* token);
    OVRA_M(remove_BrowserProcessExited, EventRegistrationToken token);
};

struct ICoreWebView2Deferral : public IUnknown {
    OVRA_M(Complete);
};

struct ICoreWebView2ProcessFailedEventArgs : public IUnknown {
    OVRA_M(get_ProcessFailedKind, COREWEBVIEW2_PROCESS_FAILED_KIND* kind);
};
struct ICoreWebView2NavigationStartingEventArgs : public IUnknown {
    OVRA_M(get_Uri, LPWSTR* uri);
    OVRA_M(get_IsUserInitiated, BOOL* isUserInitiated);
    OVRA_M(get_IsRedirected, BOOL* isRedirected);
    OVRA_M(get_RequestHeaders, IUnknown** requestHeaders);
    OVRA_M(get_Cancel, BOOL* cancel);
    OVRA_M(put_Cancel, BOOL cancel);
    OVRA_M(get_NavigationId, UINT64* navigationId);
};
struct ICoreWebView2NewWindowRequestedEventArgs : public IUnknown {
    OVRA_M(get_Uri, LPWSTR* uri);
    OVRA_M(put_NewWindow, ICoreWebView2* newWindow);
    OVRA_M(get_NewWindow, ICoreWebView2** newWindow);
    OVRA_M(put_Handled, BOOL handled);
    OVRA_M(get_Handled, BOOL* handled);
    OVRA_M(get_IsUserInitiated, BOOL* isUserInitiated);
    OVRA_M(GetDeferral, ICoreWebView2Deferral** deferral);
    OVRA_M(get_WindowFeatures, IUnknown** features);
};
struct ICoreWebView2PermissionRequestedEventArgs : public IUnknown {
    OVRA_M(get_Uri, LPWSTR* uri);
    OVRA_M(get_PermissionKind, COREWEBVIEW2_PERMISSION_KIND* kind);
    OVRA_M(get_IsUserInitiated, BOOL* isUserInitiated);
    OVRA_M(get_State, COREWEBVIEW2_PERMISSION_STATE* state);
    OVRA_M(put_State, COREWEBVIEW2_PERMISSION_STATE state);
    OVRA_M(GetDeferral, ICoreWebView2Deferral** deferral);
};
struct ICoreWebView2PermissionRequestedEventArgs2
    : public ICoreWebView2PermissionRequestedEventArgs {
    OVRA_M(get_Handled, BOOL* handled);
    OVRA_M(put_Handled, BOOL handled);
};
struct ICoreWebView2PermissionRequestedEventArgs3
    : public ICoreWebView2PermissionRequestedEventArgs2 {
    OVRA_M(get_SavesInProfile, BOOL* value);
    OVRA_M(put_SavesInProfile, BOOL value);
};
struct ICoreWebView2BrowserProcessExitedEventArgs : public IUnknown {
    OVRA_M(get_BrowserProcessExitKind, COREWEBVIEW2_BROWSER_PROCESS_EXIT_KIND* kind);
    OVRA_M(get_BrowserProcessId, UINT32* id);
};

struct ICoreWebView2ProcessFailedEventHandler : public IUnknown {
    OVRA_M(Invoke, ICoreWebView2* sender, ICoreWebView2ProcessFailedEventArgs* args);
};
struct ICoreWebView2NavigationStartingEventHandler : public IUnknown {
    OVRA_M(Invoke, ICoreWebView2* sender, ICoreWebView2NavigationStartingEventArgs* args);
};
struct ICoreWebView2NewWindowRequestedEventHandler : public IUnknown {
    OVRA_M(Invoke, ICoreWebView2* sender, ICoreWebView2NewWindowRequestedEventArgs* args);
};
struct ICoreWebView2PermissionRequestedEventHandler : public IUnknown {
    OVRA_M(Invoke, ICoreWebView2* sender, ICoreWebView2PermissionRequestedEventArgs* args);
};

#undef OVRA_EVENT
#undef OVRA_M

// The loader's two entry points.
using CreateEnvironmentFn = HRESULT(STDAPICALLTYPE*)(
    PCWSTR browserExecutableFolder, PCWSTR userDataFolder, ICoreWebView2EnvironmentOptions* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);
using BrowserVersionFn = HRESULT(STDAPICALLTYPE*)(PCWSTR browserExecutableFolder,
                                                  LPWSTR* versionInfo);
