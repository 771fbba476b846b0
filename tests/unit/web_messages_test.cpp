#include <doctest/doctest.h>

#include "base/globals.h"
#include "base/task_memory.h"
#include "browser/page_address.h"
#include "browser/web_messages.h"

#include <windows.h>

#include <string>

namespace {

// Message arguments as the browser hands them over: a source, and a string message.
class Args final : public ICoreWebView2WebMessageReceivedEventArgs {
  public:
    Args(const wchar_t* source, const wchar_t* message) : source_(source), message_(message) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* value) override {
        if (!source_) {
            *value = nullptr;
            return E_FAIL;
        }
        return CopyToTaskMemory(source_, value);
    }
    HRESULT STDMETHODCALLTYPE get_WebMessageAsJson(LPWSTR* value) override {
        return CopyToTaskMemory(message_, value);
    }
    HRESULT STDMETHODCALLTYPE TryGetWebMessageAsString(LPWSTR* value) override {
        return CopyToTaskMemory(message_, value);
    }

  private:
    const wchar_t* source_;
    const wchar_t* message_;
};

// How many events the host raised in answer: each is one WM_RUN_SCRIPT on the window.
int TakeAnswers(HWND window) {
    int answers = 0;
    MSG msg;
    while (PeekMessageW(&msg, window, WM_RUN_SCRIPT, WM_RUN_SCRIPT, PM_REMOVE)) {
        delete reinterpret_cast<std::wstring*>(msg.lParam);
        ++answers;
    }
    return answers;
}

} // namespace

TEST_CASE("a message source is our page when it names the loaded document") {
    const std::wstring page = L"file:///C:/A B/ui/index.html";
    CHECK(IsPageSource(page, page));
    CHECK(IsPageSource(L"file:///C:/A%20B/ui/index.html", page));
    CHECK(IsPageSource(L"file:///C:/A B/ui/index.html#voice", page));
    CHECK(IsPageSource(L"file:///C:/50%25/ui/index.html", L"file:///C:/50%25/ui/index.html"));

    CHECK_FALSE(IsPageSource(L"", page));
    CHECK_FALSE(IsPageSource(L"about:srcdoc", page));
    CHECK_FALSE(IsPageSource(L"about:blank", page));
    CHECK_FALSE(IsPageSource(L"file:///C:/A B/ui/other.html", page));
    CHECK_FALSE(IsPageSource(L"file:///C:/A B/ui/index.html?x=1", page));
    CHECK_FALSE(IsPageSource(L"https://example.com/ui/index.html", page));
}

TEST_CASE("our page is recognised in the browser's canonical spelling") {
    // Started from a lower-case path: the browser upper-cases the drive letter.
    const std::wstring lower = L"file:///c:/apps/ovra zirer/ui/index.html";
    CHECK(IsPageSource(L"file:///C:/apps/ovra%20zirer/ui/index.html", lower));
    CHECK(IsPageSource(L"file:///C:/apps/ovra zirer/ui/index.html#chat", lower));
    CHECK(IsPageSource(L"file:///c:/apps/ovra%20zirer/ui/index.html",
                       L"file:///C:/apps/ovra zirer/ui/index.html"));
    CHECK_FALSE(IsPageSource(L"file:///D:/apps/ovra%20zirer/ui/index.html", lower));
    CHECK_FALSE(IsPageSource(L"file:///C:/apps/ovra%20zirer/ui/other.html", lower));

    // Started from a share: we navigate to file://///server/share/..., the browser
    // names it file://server/share/...
    const std::wstring share = L"file://///fileserver/tools/OVRA-Zirer/ui/index.html";
    CHECK(IsPageSource(L"file://fileserver/tools/OVRA-Zirer/ui/index.html", share));
    CHECK(IsPageSource(L"file://FileServer/tools/OVRA-Zirer/ui/index.html", share));
    CHECK(IsPageSource(L"file:////fileserver/tools/OVRA-Zirer/ui/index.html", share));
    CHECK_FALSE(IsPageSource(L"file://otherserver/tools/OVRA-Zirer/ui/index.html", share));
    CHECK_FALSE(IsPageSource(L"file:///tools/OVRA-Zirer/ui/index.html", share));
    CHECK_FALSE(IsPageSource(L"file://fileserver/tools/OVRA-Zirer/ui/index.html", lower));

    // Non-ASCII and special characters come escaped, non-ASCII as UTF-8.
    const std::wstring wide = L"file:///C:/\u7528\u6237/50%25 %231/ui/index.html";
    CHECK(IsPageSource(L"file:///C:/%E7%94%A8%E6%88%B7/50%25%20%231/ui/index.html", wide));
    CHECK_FALSE(IsPageSource(L"file:///C:/%E7%94%A8%E6%88%B7/50%25%20", wide));
    CHECK(
        IsPageSource(L"file://localhost/C:/apps/ui/index.html", L"file:///C:/apps/ui/index.html"));
    CHECK_FALSE(IsPageSource(L"https://c/apps/ui/index.html", L"file:///c:/apps/ui/index.html"));
}

TEST_CASE("a requester is ours when it names our page or only its origin") {
    const std::wstring page = L"file:///c:/apps/ui/index.html";
    CHECK(IsPageOrigin(L"file:///C:/apps/ui/index.html", page));
    CHECK(IsPageOrigin(L"file:///", page));
    CHECK_FALSE(IsPageOrigin(L"file:///C:/apps/ui/other.html", page));
    CHECK_FALSE(IsPageOrigin(L"file://server/", page));
    CHECK_FALSE(IsPageOrigin(L"https://example.com/", page));
    CHECK_FALSE(IsPageOrigin(L"", page));
    const std::wstring share = L"file://///server/share/ui/index.html";
    CHECK(IsPageOrigin(L"file://SERVER/", share));
    CHECK_FALSE(IsPageOrigin(L"file:///", share));
    CHECK_FALSE(IsPageOrigin(L"file://other/", share));
}

TEST_CASE("only messages from our page are carried out") {
    HWND window = CreateWindowExW(0, L"STATIC", L"messages-test", 0, 0, 0, 10, 10, HWND_MESSAGE,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    REQUIRE(window != nullptr);
    MainWindow = window;
    StartUrl = L"file:///C:/app/ui/index.html";
    const wchar_t* request = L"{\"cmd\":\"getHostInfo\"}";

    Args fromFrame(L"about:srcdoc", request);
    Args fromOther(L"file:///C:/app/ui/other.html", request);
    Args noSource(nullptr, request);
    Args fromPage(L"file:///C:/app/ui/index.html", request);
    Args fromShare(L"file://server/app/ui/index.html", request);
    OnWebMessageReceived(nullptr, &fromShare);
    OnWebMessageReceived(nullptr, &fromFrame);
    OnWebMessageReceived(nullptr, &fromOther);
    OnWebMessageReceived(nullptr, &noSource);
    CHECK(TakeAnswers(window) == 0);
    OnWebMessageReceived(nullptr, &fromPage);
    CHECK(TakeAnswers(window) == 1);

    MainWindow = nullptr;
    DestroyWindow(window);
}
