// The callback object template: COM identity and counting rules, one
// destruction, and Invoke forwarding as the runtime calls it.
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include "webview/handler.h"

namespace {

// Counts live copies, so "destroyed exactly once" reads as "none left".
struct Tracked {
  static int alive;
  int* calls;
  explicit Tracked(int* c) : calls(c) { ++alive; }
  Tracked(const Tracked& other) : calls(other.calls) { ++alive; }
  Tracked(Tracked&& other) noexcept : calls(other.calls) { ++alive; }
  ~Tracked() { --alive; }
  void operator()(HRESULT, ICoreWebView2Controller*) { ++*calls; }
};
int Tracked::alive = 0;

using ControllerHandler = ICoreWebView2CreateCoreWebView2ControllerCompletedHandler;

}  // namespace

TEST(Handler, QueryInterfaceAndCounting) {
  int calls = 0;
  ControllerHandler* handler = MakeHandler<ControllerHandler>(Tracked(&calls));
  ASSERT_NE(nullptr, handler);
  EXPECT_EQ(1, Tracked::alive);

  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(S_OK, handler->QueryInterface(IID_IUnknown, &out));
  EXPECT_EQ(static_cast<void*>(handler), out);
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(S_OK, handler->QueryInterface(IID_ICoreWebView2CreateCoreWebView2ControllerCompletedHandler, &out));
  EXPECT_EQ(static_cast<void*>(handler), out);

  // A neighbouring handler's IID is the likeliest wrong answer.
  for (const IID& other : {IID_ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler,
                           IID_ICoreWebView2ExecuteScriptCompletedHandler, IID_ICoreWebView2}) {
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, handler->QueryInterface(other, &out));
    EXPECT_EQ(nullptr, out);
  }
  EXPECT_EQ(E_POINTER, handler->QueryInterface(IID_IUnknown, nullptr));

  // 1 (maker) + 2 (successful queries) = 3; AddRef and Release report the new count.
  EXPECT_EQ(4u, handler->AddRef());
  EXPECT_EQ(3u, handler->Release());
  EXPECT_EQ(2u, handler->Release());
  EXPECT_EQ(1u, handler->Release());
  EXPECT_EQ(1, Tracked::alive);
  EXPECT_EQ(0u, handler->Release());
  EXPECT_EQ(0, Tracked::alive);
  EXPECT_EQ(0, calls);
}

TEST(Handler, InvokeForwardsBothArgumentsAndAlwaysSucceeds) {
  HRESULT seenCode = S_OK;
  std::wstring seenText;
  auto* script = MakeHandler<ICoreWebView2ExecuteScriptCompletedHandler>([&](HRESULT code, LPCWSTR result) {
    seenCode = code;
    seenText = result;
  });
  ASSERT_NE(nullptr, script);
  EXPECT_EQ(S_OK, script->Invoke(E_ABORT, L"\"true\""));
  EXPECT_EQ(E_ABORT, seenCode);
  EXPECT_EQ(L"\"true\"", seenText);
  script->Release();

  ICoreWebView2* seenSender = nullptr;
  ICoreWebView2WebMessageReceivedEventArgs* seenArgs = nullptr;
  auto* message = MakeHandler<ICoreWebView2WebMessageReceivedEventHandler>(
      [&](ICoreWebView2* sender, ICoreWebView2WebMessageReceivedEventArgs* args) {
        seenSender = sender;
        seenArgs = args;
      });
  ASSERT_NE(nullptr, message);
  auto* sender = reinterpret_cast<ICoreWebView2*>(0x1000);
  auto* args = reinterpret_cast<ICoreWebView2WebMessageReceivedEventArgs*>(0x2000);
  EXPECT_EQ(S_OK, message->Invoke(sender, args));
  EXPECT_EQ(sender, seenSender);
  EXPECT_EQ(args, seenArgs);
  message->Release();

  // Nothing may unwind into the runtime.
  auto* throwing = MakeHandler<ICoreWebView2NavigationStartingEventHandler>(
      [](ICoreWebView2*, ICoreWebView2NavigationStartingEventArgs*) { throw std::runtime_error("x"); });
  ASSERT_NE(nullptr, throwing);
  EXPECT_EQ(S_OK, throwing->Invoke(nullptr, nullptr));
  throwing->Release();
}

TEST(Handler, RuntimeSeesInvokeAtSlot3AndReleaseAtSlot2) {
  int calls = 0;
  ControllerHandler* handler = MakeHandler<ControllerHandler>(Tracked(&calls));
  ASSERT_NE(nullptr, handler);
  // Called the way the runtime does: through the raw table, no C++ types.
  void* const* table = *reinterpret_cast<void* const* const*>(handler);
  using InvokeFn = HRESULT(STDMETHODCALLTYPE*)(void*, HRESULT, void*);
  using ReleaseFn = ULONG(STDMETHODCALLTYPE*)(void*);
  EXPECT_EQ(S_OK, reinterpret_cast<InvokeFn>(table[3])(handler, E_FAIL, nullptr));
  EXPECT_EQ(1, calls);
  EXPECT_EQ(0u, reinterpret_cast<ReleaseFn>(table[2])(handler));
  EXPECT_EQ(0, Tracked::alive);
}

namespace {
DWORD WINAPI Churn(void* handler) {
  auto* unknown = static_cast<IUnknown*>(handler);
  for (int i = 0; i < 20000; ++i) {
    unknown->AddRef();
    unknown->Release();
  }
  return 0;
}
}  // namespace

TEST(Handler, CountSurvivesConcurrentAddRefRelease) {
  int calls = 0;
  ControllerHandler* handler = MakeHandler<ControllerHandler>(Tracked(&calls));
  ASSERT_NE(nullptr, handler);
  HANDLE threads[4] = {};
  for (auto& t : threads) t = CreateThread(nullptr, 0, Churn, handler, 0, nullptr);
  WaitForMultipleObjects(4, threads, TRUE, INFINITE);
  for (auto& t : threads) CloseHandle(t);
  EXPECT_EQ(2u, handler->AddRef());
  EXPECT_EQ(1u, handler->Release());
  EXPECT_EQ(0u, handler->Release());
  EXPECT_EQ(0, Tracked::alive);
}
