// The COM objects the runtime hands to the client, on sparse vtables: only
// the slots the client calls are filled; every other slot logs
// "<Object>: unexpected slot N" and returns E_NOTIMPL, so a call the runtime
// does not serve shows in the log instead of landing on the wrong method.
#pragma once
#include <windows.h>
#include <array>
#include <string>

// First member of every object the runtime hands out; the vtable's functions
// take it as their first argument, which is the COM calling convention on
// x64.
struct ComObject {
  void* const* vtable;
  volatile LONG references;
  const wchar_t* name;  // for the call log: "Controller", "WebView", ...
  const IID* iid;
  const IID* laterIid;  // a later version of the interface on the same vtable, or null
  void (*destroy)(ComObject* self);
};

constexpr size_t VtableSlots = 64;
using Vtable = std::array<void*, VtableSlots>;

// QueryInterface (IUnknown and the object's own IID), AddRef, and Release
// (which logs "<name>.Release <count>") in slots 0 to 2, and "unexpected slot"
// in all others.
Vtable SparseVtable();

// The function a slot holds, derived from our declaration of the method, so a
// filled slot cannot disagree with the client's idea of its parameters.
template <class Method>
struct SlotFunctionOf;
template <class Interface, class Result, class... Arguments>
struct SlotFunctionOf<Result (STDMETHODCALLTYPE Interface::*)(Arguments...)> {
  using Type = Result(STDMETHODCALLTYPE*)(ComObject*, Arguments...);
};
#define FILL_SLOT(table, index, Interface, Method, function)                                              \
  (table)[index] = reinterpret_cast<void*>(                                                               \
      static_cast<typename SlotFunctionOf<decltype(&Interface::Method)>::Type>(function))

void InitObject(ComObject* object, const Vtable& vtable, const wchar_t* name, const IID& iid,
                void (*destroy)(ComObject*));
// The runtime's own references; neither is logged.
void HoldObject(ComObject* object);
void DropObject(ComObject* object);

template <class Interface>
Interface* AsInterface(ComObject* object) {
  return reinterpret_cast<Interface*>(object);
}

// A CoTaskMemAlloc copy for an out string, which the client frees.
HRESULT CopyOut(const std::wstring& text, LPWSTR* out);

// Failures after Controller.Close, as the runtime reports them.
constexpr HRESULT ClosedError = HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
