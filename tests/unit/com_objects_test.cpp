#include <doctest/doctest.h>

#include "browser/com_objects.h"

#include <objbase.h>

#include <cwchar>
#include <memory>
#include <string>

namespace {

// Records its own destruction, so a test can see when a handler drops its callable.
struct Witness {
    bool* destroyed;
    ~Witness() { *destroyed = true; }
};

template <typename Handler> void CheckQueryInterface(Handler* object, REFIID own) {
    CHECK(object->QueryInterface(own, nullptr) == E_POINTER);

    void* out = reinterpret_cast<void*>(0x1);
    CHECK(object->QueryInterface(IID_ICoreWebView2, &out) == E_NOINTERFACE);
    CHECK(out == nullptr);

    out = nullptr;
    REQUIRE(object->QueryInterface(own, &out) == S_OK);
    CHECK(out == static_cast<void*>(object));
    IUnknown* unknown = nullptr;
    REQUIRE(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)) == S_OK);
    // Two successful queries added two references on top of the creator's one.
    CHECK(object->Release() == 2);
    CHECK(unknown->Release() == 1);
}

} // namespace

TEST_CASE("options object answers its own interface and IUnknown only") {
    EnvOptions* options = new EnvOptions();
    CheckQueryInterface(options, IID_ICoreWebView2EnvironmentOptions);
    CHECK(options->AddRef() == 2);
    CHECK(options->Release() == 1);
    CHECK(options->Release() == 0);
}

TEST_CASE("options getters hand out fresh copies and reject null out-pointers") {
    EnvOptions* options = new EnvOptions();
    LPWSTR first = nullptr;
    LPWSTR second = nullptr;
    REQUIRE(options->get_AdditionalBrowserArguments(&first) == S_OK);
    REQUIRE(options->get_AdditionalBrowserArguments(&second) == S_OK);
    REQUIRE(first);
    REQUIRE(second);
    CHECK(first != second);
    CHECK(std::wstring(first) ==
          L"--enable-media-stream --autoplay-policy=no-user-gesture-required");
    first[0] = L'X'; // the caller owns its copy: changing it leaves the other intact
    CHECK(second[0] == L'-');
    CoTaskMemFree(first);
    CoTaskMemFree(second);

    LPWSTR version = nullptr;
    REQUIRE(options->get_TargetCompatibleBrowserVersion(&version) == S_OK);
    CHECK(std::wstring(version) == L"90.0.0.0");
    CoTaskMemFree(version);

    LPWSTR language = reinterpret_cast<LPWSTR>(0x1);
    CHECK(options->get_Language(&language) == S_OK);
    CHECK(language == nullptr);
    BOOL allow = TRUE;
    CHECK(options->get_AllowSingleSignOnUsingOSPrimaryAccount(&allow) == S_OK);
    CHECK(allow == FALSE);

    CHECK(options->get_AdditionalBrowserArguments(nullptr) == E_POINTER);
    CHECK(options->get_TargetCompatibleBrowserVersion(nullptr) == E_POINTER);
    CHECK(options->get_Language(nullptr) == E_POINTER);
    CHECK(options->get_AllowSingleSignOnUsingOSPrimaryAccount(nullptr) == E_POINTER);

    // Setters are accepted and change nothing.
    CHECK(options->put_AdditionalBrowserArguments(L"--other") == S_OK);
    REQUIRE(options->get_AdditionalBrowserArguments(&first) == S_OK);
    CHECK(std::wstring(first).rfind(L"--enable-media-stream", 0) == 0);
    CoTaskMemFree(first);
    options->Release();
}

TEST_CASE("each handler class answers only its own interface") {
    EnvHandler* env = new EnvHandler(nullptr);
    CheckQueryInterface(env, IID_ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler);
    void* out = nullptr;
    CHECK(env->QueryInterface(IID_ICoreWebView2CreateCoreWebView2ControllerCompletedHandler,
                              &out) == E_NOINTERFACE);
    env->Release();

    CtrlHandler* ctrl = new CtrlHandler(nullptr);
    CheckQueryInterface(ctrl, IID_ICoreWebView2CreateCoreWebView2ControllerCompletedHandler);
    ctrl->Release();
    MsgHandler* msg = new MsgHandler(nullptr);
    CheckQueryInterface(msg, IID_ICoreWebView2WebMessageReceivedEventHandler);
    msg->Release();
    NavHandler* nav = new NavHandler(nullptr);
    CheckQueryInterface(nav, IID_ICoreWebView2NavigationCompletedEventHandler);
    nav->Release();
}

TEST_CASE("Invoke forwards both arguments and the callable's result") {
    HRESULT seenCode = S_OK;
    ICoreWebView2Environment* seenEnv = nullptr;
    auto* fakeEnv = reinterpret_cast<ICoreWebView2Environment*>(0x1234);
    EnvHandler* handler = new EnvHandler([&](HRESULT code, ICoreWebView2Environment* env) {
        seenCode = code;
        seenEnv = env;
        return E_ABORT;
    });
    CHECK(handler->Invoke(E_FAIL, fakeEnv) == E_ABORT);
    CHECK(seenCode == E_FAIL);
    CHECK(seenEnv == fakeEnv);
    handler->Release();

    NavHandler* empty = new NavHandler(NavHandler::Callable());
    CHECK(empty->Invoke(nullptr, nullptr) == S_OK);
    empty->Release();
}

TEST_CASE("the callable lives exactly as long as the last reference") {
    bool destroyed = false;
    std::shared_ptr<Witness> witness(new Witness{&destroyed});
    MsgHandler* handler = new MsgHandler(
        [witness](ICoreWebView2*, ICoreWebView2WebMessageReceivedEventArgs*) { return S_OK; });
    witness.reset(); // the callable now holds the only owner
    CHECK(handler->AddRef() == 2);
    CHECK(handler->Release() == 1);
    CHECK_FALSE(destroyed);
    CHECK(handler->Invoke(nullptr, nullptr) == S_OK);
    CHECK(handler->Release() == 0);
    CHECK(destroyed);
}
