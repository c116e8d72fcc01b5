// A process-wide owning interface pointer: storing adds a reference and
// releases the one held before; Reset releases.
#pragma once
#include <unknwn.h>

template <class Interface>
class OwningRef {
 public:
  OwningRef() = default;
  ~OwningRef() { Reset(); }
  OwningRef(const OwningRef&) = delete;
  OwningRef& operator=(const OwningRef&) = delete;

  void Store(Interface* object) {
    if (object) object->AddRef();
    Interface* old = object_;
    object_ = object;
    if (old) old->Release();
  }
  void Reset() { Store(nullptr); }
  // Releases what is held and hands out the slot for a getter that returns a
  // reference already added.
  Interface** Put() {
    Reset();
    return &object_;
  }
  Interface* Get() const { return object_; }
  Interface* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  Interface* object_ = nullptr;
};
