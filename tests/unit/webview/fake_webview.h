// Recording stand-ins for the runtime's controller, view, settings and event
// arguments, built as raw COM vtables so they answer exactly the slots of our
// declarations. Every method call is written to one log, in order.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <set>
#include <string>
#include <vector>
#include "webview/webview2.h"

struct FakeLog {
  std::vector<std::string> calls;
};

struct FakeCom {
  void* const* vtable;
  const char* name;
  FakeLog* log;
  LONG refs;
  FakeCom* child;                       // controller -> view, view -> settings
  std::vector<IUnknown*> handlers;      // event handlers registered, referenced
  ICoreWebView2ExecuteScriptCompletedHandler* scriptCompletion;  // last ExecuteScript's, referenced
  const wchar_t* text;                  // event args: the Uri or message; null makes the getter fail
  const void* handedOut;                // the last text given out, from CoTaskMemAlloc
  int kind;                             // ProcessFailed args: the kind reported
};

// Fresh objects with one reference of their own (held by the test).
FakeCom MakeFakeController(FakeLog* log, FakeCom* view);
FakeCom MakeFakeWebView(FakeLog* log, FakeCom* settings);
FakeCom MakeFakeSettings(FakeLog* log);
FakeCom MakeFakeNavigationArgs(FakeLog* log, const wchar_t* uri);
FakeCom MakeFakeMessageArgs(FakeLog* log, const wchar_t* message);
FakeCom MakeFakeProcessFailedArgs(FakeLog* log, int kind);
void DropFakeReferences(FakeCom* fake);  // releases handlers and completion it holds

template <class Interface>
Interface* As(FakeCom& fake) {
  return reinterpret_cast<Interface*>(&fake);
}

// Counts frees of the COM task allocator's blocks handed out by the fakes.
class TaskMemoryWatch {
 public:
  TaskMemoryWatch();
  ~TaskMemoryWatch();
  int FreesOf(const void* block) const;
};
