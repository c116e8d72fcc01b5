// The one reference-counted callback object that every completion and event
// handler handed to the web view runtime is made from: it implements a single
// handler interface and forwards Invoke to a function object.
#pragma once
#include <windows.h>
#include <new>
#include <utility>
#include "webview/webview2.h"

namespace handler_detail {

// Every handler interface we implement has Invoke(A, B); the parameter types
// are read off the interface so the wrapper cannot disagree with it.
template <class Method>
struct InvokeSignature;

template <class Interface, class First, class Second>
struct InvokeSignature<HRESULT (STDMETHODCALLTYPE Interface::*)(First, Second)> {
  using FirstType = First;
  using SecondType = Second;
};

template <class Interface, class Function>
class Handler final : public Interface {
  using Signature = InvokeSignature<decltype(&Interface::Invoke)>;
  using First = typename Signature::FirstType;
  using Second = typename Signature::SecondType;

 public:
  explicit Handler(Function&& function) : function_(std::move(function)) {}
  Handler(const Handler&) = delete;
  Handler& operator=(const Handler&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, __uuidof(Interface))) return E_NOINTERFACE;
    *out = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }

  ULONG STDMETHODCALLTYPE AddRef() override { return ChangeCount(1); }

  ULONG STDMETHODCALLTYPE Release() override {
    ULONG count = ChangeCount(-1);
    if (count == 0) delete this;
    return count;
  }

  // The runtime ignores our result, and nothing may unwind into it.
  HRESULT STDMETHODCALLTYPE Invoke(First first, Second second) override {
    try {
      function_(first, second);
    } catch (...) {
    }
    return S_OK;
  }

 private:
  ~Handler() = default;  // only the last Release destroys

  ULONG ChangeCount(LONG delta) {
    LONG seen, next;
    do {
      seen = count_;
      next = seen + delta;
    } while (InterlockedCompareExchange(&count_, next, seen) != seen);
    return static_cast<ULONG>(next);
  }

  volatile LONG count_ = 1;
  Function function_;
};

}  // namespace handler_detail

// A new handler holding one reference for the caller, or nullptr when memory
// runs out (the runtime call then gets a null handler). The caller hands it
// to the runtime and then releases its own reference: if (h) h->Release();
template <class Interface, class Function>
Interface* MakeHandler(Function function) {
  return new (std::nothrow) handler_detail::Handler<Interface, Function>(std::move(function));
}
