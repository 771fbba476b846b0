// An owning pointer for one COM reference: released on Reset, on assignment of null or
// of another pointer, and on destruction. It cannot be copied (a copy would need a
// reference of its own); moving hands the reference over.
#pragma once

#include <cstddef>

template <typename T> class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes over a reference the caller already holds, such as a freshly made object's.
    explicit ComPtr(T* adopted) : object_(adopted) {}
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            object_ = other.object_;
            other.object_ = nullptr;
        }
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) {
        Reset();
        return *this;
    }
    ~ComPtr() { Reset(); }

    // Releases the reference held, if any, and holds nothing.
    void Reset() {
        T* old = object_;
        object_ = nullptr;
        if (old)
            old->Release();
    }
    // Holds `adopted`, whose reference the caller hands over.
    void Attach(T* adopted) {
        Reset();
        object_ = adopted;
    }
    // Holds `object` with a reference of its own, as for an argument given to a callback.
    void Share(T* object) {
        if (object)
            object->AddRef();
        Reset();
        object_ = object;
    }
    // The slot an interface method fills in; whatever was held is released first.
    T** Receive() {
        Reset();
        return &object_;
    }

    T* Get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    friend bool operator==(const ComPtr& p, std::nullptr_t) { return p.object_ == nullptr; }
    friend bool operator!=(const ComPtr& p, std::nullptr_t) { return p.object_ != nullptr; }

  private:
    T* object_ = nullptr;
};
