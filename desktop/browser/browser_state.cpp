#include "browser/browser_state.h"

ICoreWebView2Environment* BrowserEnvironment = nullptr;
ICoreWebView2Controller* BrowserController = nullptr;
ICoreWebView2* BrowserView = nullptr;
