#include <doctest/doctest.h>

#include "base/globals.h"
#include "base/task_memory.h"
#include "browser/navigation_guard.h"
#include "browser/permissions.h"
#include "webview2/webview2.h"

#include "fake_com.h"
#include "host_window.h"

namespace {

// What the faked event arguments report.
const wchar_t* RequestUri = L"";
int RequestKind = 0;
bool HasSavesInProfile = true;

HRESULT STDMETHODCALLTYPE GetUri(FakeObject*, LPWSTR* uri) {
    return CopyToTaskMemory(RequestUri, uri);
}
HRESULT STDMETHODCALLTYPE GetKind(FakeObject*, int* kind) {
    *kind = RequestKind;
    return S_OK;
}
template <const char* What> HRESULT STDMETHODCALLTYPE Put(FakeObject* self, int value) {
    Calls.push_back(std::string(self->name) + "." + What + " " + std::to_string(value));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE QueryArgs3(FakeObject* self, REFIID riid, void** out) {
    if (HasSavesInProfile && IsEqualIID(riid, IID_ICoreWebView2PermissionRequestedEventArgs3)) {
        *out = self;
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE FailToGetUri(FakeObject*, LPWSTR* uri) {
    *uri = nullptr;
    return E_FAIL;
}
HRESULT STDMETHODCALLTYPE Navigate(FakeObject* self, LPCWSTR uri) {
    Calls.push_back(std::string(self->name) + ".Navigate " + std::string(uri, uri + wcslen(uri)));
    return S_OK;
}

constexpr char State[] = "State", Saves[] = "SavesInProfile", Cancel[] = "Cancel",
               Handled[] = "Handled";

// Asks the handler about one request and returns what it set.
std::vector<std::string> Ask(int kind, const wchar_t* uri) {
    Fake args("args");
    args.table[0] = reinterpret_cast<void*>(&QueryArgs3);
    args.table[3] = reinterpret_cast<void*>(&GetUri);
    args.table[4] = reinterpret_cast<void*>(&GetKind);
    args.table[7] = reinterpret_cast<void*>(&Put<State>);
    args.table[12] = reinterpret_cast<void*>(&Put<Saves>);
    RequestKind = kind;
    RequestUri = uri;
    Calls.clear();
    OnPermissionRequested(nullptr, args.as<ICoreWebView2PermissionRequestedEventArgs>());
    std::vector<std::string> set;
    for (const std::string& call : Calls)
        if (call != "args.Release")
            set.push_back(call);
    return set;
}

} // namespace

TEST_CASE("camera and microphone are allowed for our page alone, and never remembered") {
    StartUrl = L"file:///c:/apps/ui/index.html";
    const std::vector<std::string> allowed{"args.State 1", "args.SavesInProfile 0"};
    const std::vector<std::string> denied{"args.State 2", "args.SavesInProfile 0"};
    CHECK(Ask(COREWEBVIEW2_PERMISSION_KIND_MICROPHONE, L"file:///C:/apps/ui/index.html") ==
          allowed);
    CHECK(Ask(COREWEBVIEW2_PERMISSION_KIND_CAMERA, L"file:///") == allowed);
    CHECK(Ask(COREWEBVIEW2_PERMISSION_KIND_GEOLOCATION, L"file:///C:/apps/ui/index.html") ==
          denied);
    CHECK(Ask(COREWEBVIEW2_PERMISSION_KIND_NOTIFICATIONS, L"file:///") == denied);
    CHECK(Ask(COREWEBVIEW2_PERMISSION_KIND_CLIPBOARD_READ, L"file:///") == denied);
    CHECK(Ask(COREWEBVIEW2_PERMISSION_KIND_UNKNOWN_PERMISSION, L"file:///") == denied);
    CHECK(Ask(COREWEBVIEW2_PERMISSION_KIND_CAMERA, L"https://example.com/") == denied);
    CHECK(Ask(COREWEBVIEW2_PERMISSION_KIND_MICROPHONE, L"file:///C:/apps/ui/other.html") == denied);
    // A runtime without the later arguments: the answer alone.
    HasSavesInProfile = false;
    CHECK(Ask(COREWEBVIEW2_PERMISSION_KIND_MICROPHONE, L"file:///") ==
          std::vector<std::string>{"args.State 1"});
    HasSavesInProfile = true;
}

TEST_CASE("navigations away from our page are cancelled, new windows always handled") {
    StartUrl = L"file:///c:/apps/ui/index.html";
    Fake navigation("navigation"), window("window");
    navigation.table[3] = reinterpret_cast<void*>(&GetUri);
    navigation.table[8] = reinterpret_cast<void*>(&Put<Cancel>);
    window.table[3] = reinterpret_cast<void*>(&GetUri);
    window.table[6] = reinterpret_cast<void*>(&Put<Handled>);
    auto navigate = [&](const wchar_t* uri) {
        RequestUri = uri;
        Calls.clear();
        OnNavigationStarting(nullptr, navigation.as<ICoreWebView2NavigationStartingEventArgs>());
        return Calls;
    };
    CHECK(navigate(L"file:///C:/apps/ui/index.html").empty());
    CHECK(navigate(L"file:///C:/apps/ui/index.html#voice").empty());
    const std::vector<std::string> cancelled{"navigation.Cancel 1"};
    CHECK(navigate(L"https://example.com/") == cancelled);
    CHECK(navigate(L"file:///C:/Users/me/Pictures/cat.png") == cancelled);
    CHECK(navigate(L"about:blank") == cancelled);

    // Addresses the shell must never see: handled, so no popup, and nothing opened.
    for (const wchar_t* uri :
         {L"file:///C:/Windows/System32/calc.exe", L"javascript:alert(1)", L"about:blank", L""}) {
        RequestUri = uri;
        Calls.clear();
        OnNewWindowRequested(nullptr, window.as<ICoreWebView2NewWindowRequestedEventArgs>());
        CHECK(Calls == std::vector<std::string>{"window.Handled 1"});
    }
}

TEST_CASE("a view that shows anything but our page is taken back to it, three times a minute") {
    StartUrl = L"file:///c:/apps/ui/index.html";
    Fake view("view");
    view.table[4] = reinterpret_cast<void*>(&GetUri);
    view.table[5] = reinterpret_cast<void*>(&Navigate);
    ScratchMainWindow window;
    REQUIRE(MainWindow);
    BrowserView.Share(view.as<ICoreWebView2>());
    auto shown = [&](const wchar_t* source) {
        RequestUri = source;
        Calls.clear();
        bool kept = KeepPageShown(view.as<ICoreWebView2>());
        // Navigating happens after the control's event, from the message loop.
        CHECK(Calls.empty());
        RunPendingTimers();
        return kept;
    };
    const std::vector<std::string> back{"view.Navigate file:///c:/apps/ui/index.html"};

    CHECK(shown(L"file:///C:/apps/ui/index.html#voice"));
    CHECK(Calls.empty());
    CHECK_FALSE(shown(L"about:blank"));
    CHECK(Calls == back);
    CHECK_FALSE(shown(L"chrome-error://chromewebdata/"));
    CHECK(Calls == back);
    CHECK_FALSE(shown(L"https://example.com/"));
    CHECK(Calls == back);
    // An address that cannot be read is left alone: no loop on a view that never says.
    view.table[4] = reinterpret_cast<void*>(&FailToGetUri);
    CHECK(shown(L""));
    CHECK(Calls.empty());
    view.table[4] = reinterpret_cast<void*>(&GetUri);

    // A page that keeps leaving: given up, the window says so.
    CHECK_FALSE(BrowserNotice);
    CHECK_FALSE(shown(L"about:blank"));
    CHECK(Calls == std::vector<std::string>{"view.Release"});
    CHECK_FALSE(BrowserView);
    CHECK(BrowserNotice);
}
