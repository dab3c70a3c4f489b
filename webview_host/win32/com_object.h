// A minimal COM object of our own over one C-style interface: the interface table first, then a
// thread-safe reference count and the C++ object that does the work. The runtime may call
// AddRef/Release and read streams from its own threads, hence the atomic count.
#pragma once

#include <windows.h>

#include <atomic>
#include <initializer_list>
#include <memory>

#include "webview2_api.h"

namespace quelby::webview_host {

template <class Interface, class Impl>
struct ComObject {
    Interface iface;  // first: the pointer handed out is the object's address
    std::atomic<ULONG> references;
    Impl* impl;

    static ComObject* of(Interface* self) { return reinterpret_cast<ComObject*>(self); }
    static Impl& impl_of(Interface* self) { return *of(self)->impl; }

    static HRESULT STDMETHODCALLTYPE query_interface(Interface* self, REFIID riid, void** object) {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        if (!webview2::same_iid(riid, webview2::IID_UNKNOWN) && !Impl::answers(riid)) {
            return E_NOINTERFACE;
        }
        add_ref(self);
        *object = self;
        return S_OK;
    }
    static ULONG STDMETHODCALLTYPE add_ref(Interface* self) { return ++of(self)->references; }
    static ULONG STDMETHODCALLTYPE release(Interface* self) {
        ComObject* object = of(self);
        const ULONG remaining = --object->references;
        if (remaining == 0) {
            delete object->impl;
            delete object;
        }
        return remaining;
    }
};

// A new object with one reference, owned by the caller.
template <class Interface, class Impl, class Table>
Interface* make_com_object(Table& table, std::unique_ptr<Impl> impl) {
    auto* object = new ComObject<Interface, Impl>{{}, 1, impl.release()};
    object->iface.lpVtbl = &table;
    return &object->iface;
}

inline bool answers_any(REFIID riid, std::initializer_list<IID> iids) {
    for (const IID& iid : iids) {
        if (webview2::same_iid(riid, iid)) {
            return true;
        }
    }
    return false;
}

// Releases a COM pointer it owns.
template <class Interface>
class ComPtr {
  public:
    ComPtr() = default;
    explicit ComPtr(Interface* owned) : pointer_(owned) {}
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : pointer_(other.pointer_) { other.pointer_ = nullptr; }
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            pointer_ = other.pointer_;
            other.pointer_ = nullptr;
        }
        return *this;
    }
    ~ComPtr() { reset(); }

    void reset() {
        if (pointer_ != nullptr) {
            pointer_->lpVtbl->Release(pointer_);
            pointer_ = nullptr;
        }
    }
    Interface** put() {
        reset();
        return &pointer_;
    }
    [[nodiscard]] Interface* get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    // Hands the reference to the caller.
    Interface* release() {
        Interface* pointer = pointer_;
        pointer_ = nullptr;
        return pointer;
    }

  private:
    Interface* pointer_ = nullptr;
};

}  // namespace quelby::webview_host
