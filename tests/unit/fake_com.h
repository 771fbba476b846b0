// Browser objects faked at the binary level: a vtable of numbered slots, so tests also
// pin down the slot numbers the code under test calls through. Every call of a slot
// without an implementation is recorded as "<name>.slot<n>".
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

inline std::vector<std::string> Calls;

struct FakeObject {
    void* const* vtable;
    const char* name;
};

template <int Slot> inline HRESULT STDMETHODCALLTYPE Unexpected(FakeObject* self) {
    Calls.push_back(std::string(self->name) + ".slot" + std::to_string(Slot));
    return E_NOTIMPL;
}
inline ULONG STDMETHODCALLTYPE AddRef(FakeObject*) {
    return 2;
}
inline ULONG STDMETHODCALLTYPE Release(FakeObject* self) {
    Calls.push_back(std::string(self->name) + ".Release");
    return 0;
}
constexpr int SlotCount = 64;
template <int... Slots>
inline std::vector<void*> UnexpectedTable(std::integer_sequence<int, Slots...>) {
    return {reinterpret_cast<void*>(&Unexpected<Slots>)...};
}

struct Fake {
    std::vector<void*> table = UnexpectedTable(std::make_integer_sequence<int, SlotCount>());
    FakeObject object;
    explicit Fake(const char* name) : object{nullptr, name} {
        table[1] = reinterpret_cast<void*>(&AddRef);
        table[2] = reinterpret_cast<void*>(&Release);
        object.vtable = table.data();
    }
    template <typename T> T* as() { return reinterpret_cast<T*>(&object); }
};
