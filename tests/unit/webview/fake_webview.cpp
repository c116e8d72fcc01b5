#include "fake_webview.h"
#include <array>
#include <map>
#include <utility>

namespace {

void Record(FakeCom* self, const std::string& call) { self->log->calls.push_back(std::string(self->name) + "." + call); }

std::string Utf8(const wchar_t* text) {
  if (!text) return "(null)";
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
  return out;
}

wchar_t* TaskCopy(const wchar_t* text) {
  size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
  auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
  memcpy(copy, text, bytes);
  return copy;
}

template <size_t Slot>
HRESULT STDMETHODCALLTYPE Unexpected(FakeCom* self) {
  Record(self, "slot" + std::to_string(Slot));
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE QueryInterfaceFake(FakeCom*, REFIID, void** out) {
  if (out) *out = nullptr;
  return E_NOINTERFACE;
}
ULONG STDMETHODCALLTYPE AddRefFake(FakeCom* self) { return static_cast<ULONG>(++self->refs); }
ULONG STDMETHODCALLTYPE ReleaseFake(FakeCom* self) { return static_cast<ULONG>(--self->refs); }

using Table = std::array<void*, 64>;

template <size_t... Slot>
Table UnexpectedTable(std::index_sequence<Slot...>) {
  return {{reinterpret_cast<void*>(&Unexpected<Slot>)...}};
}

Table BaseTable() {
  Table table = UnexpectedTable(std::make_index_sequence<64>());
  table[0] = reinterpret_cast<void*>(&QueryInterfaceFake);
  table[1] = reinterpret_cast<void*>(&AddRefFake);
  table[2] = reinterpret_cast<void*>(&ReleaseFake);
  return table;
}

// Controller.
HRESULT STDMETHODCALLTYPE PutIsVisible(FakeCom* self, BOOL visible) {
  Record(self, "put_IsVisible " + std::to_string(visible));
  return S_OK;
}
HRESULT STDMETHODCALLTYPE PutBounds(FakeCom* self, RECT bounds) {
  Record(self, "put_Bounds " + std::to_string(bounds.left) + " " + std::to_string(bounds.top) + " " +
                   std::to_string(bounds.right) + " " + std::to_string(bounds.bottom));
  return S_OK;
}
HRESULT STDMETHODCALLTYPE PutParentWindow(FakeCom* self, HWND) {
  Record(self, "put_ParentWindow");
  return S_OK;
}
HRESULT STDMETHODCALLTYPE Close(FakeCom* self) {
  Record(self, "Close");
  return S_OK;
}
template <const char* Name>
HRESULT STDMETHODCALLTYPE GetChild(FakeCom* self, FakeCom** out) {
  Record(self, Name);
  *out = self->child;
  if (self->child) ++self->child->refs;
  return self->child ? S_OK : E_FAIL;
}

constexpr char GetCoreWebView2Name[] = "get_CoreWebView2";
constexpr char GetSettingsName[] = "get_Settings";

// View.
HRESULT STDMETHODCALLTYPE Navigate(FakeCom* self, LPCWSTR uri) {
  Record(self, "Navigate " + Utf8(uri));
  return S_OK;
}
template <const char* Name>
HRESULT STDMETHODCALLTYPE AddHandler(FakeCom* self, IUnknown* handler, EventRegistrationToken* token) {
  Record(self, Name);
  if (handler) {
    handler->AddRef();
    self->handlers.push_back(handler);
  }
  if (token) token->value = static_cast<INT64>(self->handlers.size());
  return S_OK;
}
constexpr char AddNavigationStartingName[] = "add_NavigationStarting";
constexpr char AddNewWindowRequestedName[] = "add_NewWindowRequested";
constexpr char AddWebMessageReceivedName[] = "add_WebMessageReceived";
constexpr char AddProcessFailedName[] = "add_ProcessFailed";
HRESULT STDMETHODCALLTYPE GetBrowserProcessId(FakeCom* self, UINT32* pid) {
  Record(self, "get_BrowserProcessId");
  *pid = 4242;
  return S_OK;
}
HRESULT STDMETHODCALLTYPE Reload(FakeCom* self) {
  Record(self, "Reload");
  return S_OK;
}

HRESULT STDMETHODCALLTYPE AddScript(FakeCom* self, LPCWSTR script, IUnknown* completion) {
  Record(self, "AddScriptToExecuteOnDocumentCreated " + Utf8(script) + (completion ? " +completion" : ""));
  return S_OK;
}
HRESULT STDMETHODCALLTYPE ExecuteScript(FakeCom* self, LPCWSTR script,
                                        ICoreWebView2ExecuteScriptCompletedHandler* completion) {
  Record(self, "ExecuteScript " + Utf8(script));
  if (self->scriptCompletion) self->scriptCompletion->Release();
  self->scriptCompletion = completion;
  if (completion) completion->AddRef();
  return S_OK;
}

// Settings: every put_ sits on an even slot after its get_.
const char* const SettingNames[] = {"IsScriptEnabled",   "IsWebMessageEnabled",          "AreDefaultScriptDialogsEnabled",
                                    "IsStatusBarEnabled", "AreDevToolsEnabled",         "AreDefaultContextMenusEnabled",
                                    "AreHostObjectsAllowed", "IsZoomControlEnabled", "IsBuiltInErrorPageEnabled"};
template <size_t Slot>
HRESULT STDMETHODCALLTYPE PutSetting(FakeCom* self, BOOL value) {
  Record(self, std::string("put_") + SettingNames[(Slot - 4) / 2] + " " + std::to_string(value));
  return S_OK;
}

// Event arguments.
HRESULT STDMETHODCALLTYPE GetText(FakeCom* self, LPWSTR* out) {
  Record(self, std::string(self->name) == "NavigationArgs" ? "get_Uri" : "TryGetWebMessageAsString");
  if (!self->text) return E_INVALIDARG;
  *out = TaskCopy(self->text);
  self->handedOut = *out;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE GetKind(FakeCom* self, int* kind) {
  Record(self, "get_ProcessFailedKind");
  *kind = self->kind;
  return S_OK;
}

FakeCom Make(const Table& table, const char* name, FakeLog* log) {
  FakeCom fake{table.data(), name, log, 1, nullptr, {}, nullptr, nullptr, nullptr, 0};
  return fake;
}

}  // namespace

FakeCom MakeFakeController(FakeLog* log, FakeCom* view) {
  static const Table table = [] {
    Table t = BaseTable();
    t[4] = reinterpret_cast<void*>(&PutIsVisible);
    t[6] = reinterpret_cast<void*>(&PutBounds);
    t[22] = reinterpret_cast<void*>(&PutParentWindow);
    t[24] = reinterpret_cast<void*>(&Close);
    t[25] = reinterpret_cast<void*>(&GetChild<GetCoreWebView2Name>);
    return t;
  }();
  FakeCom fake = Make(table, "Controller", log);
  fake.child = view;
  return fake;
}

FakeCom MakeFakeWebView(FakeLog* log, FakeCom* settings) {
  static const Table table = [] {
    Table t = BaseTable();
    t[3] = reinterpret_cast<void*>(&GetChild<GetSettingsName>);
    t[5] = reinterpret_cast<void*>(&Navigate);
    t[7] = reinterpret_cast<void*>(&AddHandler<AddNavigationStartingName>);
    t[25] = reinterpret_cast<void*>(&AddHandler<AddProcessFailedName>);
    t[27] = reinterpret_cast<void*>(&AddScript);
    t[29] = reinterpret_cast<void*>(&ExecuteScript);
    t[31] = reinterpret_cast<void*>(&Reload);
    t[34] = reinterpret_cast<void*>(&AddHandler<AddWebMessageReceivedName>);
    t[37] = reinterpret_cast<void*>(&GetBrowserProcessId);
    t[44] = reinterpret_cast<void*>(&AddHandler<AddNewWindowRequestedName>);
    return t;
  }();
  FakeCom fake = Make(table, "WebView", log);
  fake.child = settings;
  return fake;
}

FakeCom MakeFakeSettings(FakeLog* log) {
  static const Table table = [] {
    Table t = BaseTable();
    t[4] = reinterpret_cast<void*>(&PutSetting<4>);
    t[6] = reinterpret_cast<void*>(&PutSetting<6>);
    t[8] = reinterpret_cast<void*>(&PutSetting<8>);
    t[10] = reinterpret_cast<void*>(&PutSetting<10>);
    t[12] = reinterpret_cast<void*>(&PutSetting<12>);
    t[14] = reinterpret_cast<void*>(&PutSetting<14>);
    t[16] = reinterpret_cast<void*>(&PutSetting<16>);
    t[18] = reinterpret_cast<void*>(&PutSetting<18>);
    t[20] = reinterpret_cast<void*>(&PutSetting<20>);
    return t;
  }();
  return Make(table, "Settings", log);
}

FakeCom MakeFakeNavigationArgs(FakeLog* log, const wchar_t* uri) {
  static const Table table = [] {
    Table t = BaseTable();
    t[3] = reinterpret_cast<void*>(&GetText);
    return t;
  }();
  FakeCom fake = Make(table, "NavigationArgs", log);
  fake.text = uri;
  return fake;
}

FakeCom MakeFakeMessageArgs(FakeLog* log, const wchar_t* message) {
  static const Table table = [] {
    Table t = BaseTable();
    t[5] = reinterpret_cast<void*>(&GetText);
    return t;
  }();
  FakeCom fake = Make(table, "MessageArgs", log);
  fake.text = message;
  return fake;
}

FakeCom MakeFakeProcessFailedArgs(FakeLog* log, int kind) {
  static const Table table = [] {
    Table t = BaseTable();
    t[3] = reinterpret_cast<void*>(&GetKind);
    return t;
  }();
  FakeCom fake = Make(table, "ProcessFailedArgs", log);
  fake.kind = kind;
  return fake;
}

void DropFakeReferences(FakeCom* fake) {
  for (IUnknown* handler : fake->handlers) handler->Release();
  fake->handlers.clear();
  if (fake->scriptCompletion) fake->scriptCompletion->Release();
  fake->scriptCompletion = nullptr;
}

// IMallocSpy sees every free of the task allocator.
namespace {

std::map<const void*, int> frees;

struct FreeSpy : IMallocSpy {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMallocSpy)) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
  void* STDMETHODCALLTYPE PostAlloc(void* block) override { return block; }
  void* STDMETHODCALLTYPE PreFree(void* block, BOOL) override {
    ++frees[block];
    return block;
  }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** out, BOOL) override {
    *out = block;
    return size;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL) override { return block; }
  void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL) override { return block; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL) override { return block; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}
};
FreeSpy spy;

}  // namespace

TaskMemoryWatch::TaskMemoryWatch() {
  frees.clear();
  CoRegisterMallocSpy(&spy);
}

TaskMemoryWatch::~TaskMemoryWatch() { CoRevokeMallocSpy(); }

int TaskMemoryWatch::FreesOf(const void* block) const {
  auto it = frees.find(block);
  return it == frees.end() ? 0 : it->second;
}
