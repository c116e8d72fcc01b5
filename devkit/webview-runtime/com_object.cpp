#include "com_object.h"
#include <objbase.h>
#include <utility>
#include "call_log.h"

namespace {

ULONG ChangeCount(volatile LONG* count, LONG delta) {
  LONG seen, next;
  do {
    seen = *count;
    next = seen + delta;
  } while (InterlockedCompareExchange(count, next, seen) != seen);
  return static_cast<ULONG>(next);
}

template <size_t Slot>
HRESULT STDMETHODCALLTYPE UnexpectedSlot(ComObject* self) {
  Log(std::wstring(self->name) + L": unexpected slot " + std::to_wstring(Slot));
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE QueryInterfaceSlot(ComObject* self, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, *self->iid) &&
      !(self->laterIid && IsEqualIID(iid, *self->laterIid)))
    return E_NOINTERFACE;
  ChangeCount(&self->references, 1);
  *out = self;
  return S_OK;
}

ULONG STDMETHODCALLTYPE AddRefSlot(ComObject* self) { return ChangeCount(&self->references, 1); }

ULONG STDMETHODCALLTYPE ReleaseSlot(ComObject* self) {
  ULONG count = ChangeCount(&self->references, -1);
  Log(std::wstring(self->name) + L".Release " + std::to_wstring(count));
  if (count == 0) self->destroy(self);
  return count;
}

template <size_t... Slot>
Vtable UnexpectedTable(std::index_sequence<Slot...>) {
  return {{reinterpret_cast<void*>(&UnexpectedSlot<Slot>)...}};
}

}  // namespace

Vtable SparseVtable() {
  Vtable table = UnexpectedTable(std::make_index_sequence<VtableSlots>());
  table[0] = reinterpret_cast<void*>(&QueryInterfaceSlot);
  table[1] = reinterpret_cast<void*>(&AddRefSlot);
  table[2] = reinterpret_cast<void*>(&ReleaseSlot);
  return table;
}

void InitObject(ComObject* object, const Vtable& vtable, const wchar_t* name, const IID& iid,
                void (*destroy)(ComObject*)) {
  object->vtable = vtable.data();
  object->references = 1;
  object->name = name;
  object->iid = &iid;
  object->laterIid = nullptr;
  object->destroy = destroy;
}

void HoldObject(ComObject* object) { ChangeCount(&object->references, 1); }

void DropObject(ComObject* object) {
  if (ChangeCount(&object->references, -1) == 0) object->destroy(object);
}

HRESULT CopyOut(const std::wstring& text, LPWSTR* out) {
  if (!out) return E_POINTER;
  size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  *out = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (!*out) return E_OUTOFMEMORY;
  memcpy(*out, text.c_str(), bytes);
  return S_OK;
}
