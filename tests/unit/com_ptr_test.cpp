#include <doctest/doctest.h>

#include "base/com_ptr.h"

#include <unknwn.h>

#include <utility>

namespace {

// Counts its references; never deletes itself, so a test can look after the last one.
struct Counted final : IUnknown {
    int refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
};

HRESULT HandOut(Counted* object, Counted** out) {
    object->AddRef();
    *out = object;
    return S_OK;
}

} // namespace

TEST_CASE("an owning pointer releases its one reference exactly once") {
    Counted a, b;
    {
        ComPtr<Counted> p(&a); // adopts the object's first reference
        CHECK(a.refs == 1);
        p.Share(&b);
        CHECK(a.refs == 0);
        CHECK(b.refs == 2);
        p.Reset();
        CHECK(b.refs == 1);
        CHECK_FALSE(p);
        p.Reset();
        CHECK(b.refs == 1);

        REQUIRE(SUCCEEDED(HandOut(&b, p.Receive())));
        CHECK(b.refs == 2);
        REQUIRE(SUCCEEDED(HandOut(&b, p.Receive()))); // the earlier one is released first
        CHECK(b.refs == 2);
    }
    CHECK(b.refs == 1);
}

TEST_CASE("moving hands the reference over; sharing itself keeps it") {
    Counted a;
    ComPtr<Counted> first(&a);
    ComPtr<Counted> second(std::move(first));
    CHECK_FALSE(first);
    CHECK(second.Get() == &a);
    first = std::move(second);
    CHECK(a.refs == 1);
    first.Share(first.Get());
    CHECK(a.refs == 1);
    first = nullptr;
    CHECK(a.refs == 0);
}
