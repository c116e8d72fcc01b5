// Development WebView2 runtime for Wine, never shipped: the loader's entry
// point and the environment it delivers, backed by Debian's Chromium over the
// DevTools protocol.
#include "environment.h"
#include <objbase.h>
#include <algorithm>
#include <string>
#include <vector>
#include "browser.h"
#include "browser_process.h"
#include "call_log.h"
#include "com_object.h"
#include "controller.h"
#include "delivery.h"
#include "web_view.h"

namespace {

// The real loader's answer when no runtime is installed.
constexpr HRESULT NoRuntime = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

struct Environment {
  ComObject com;
  int generation;  // of the browser it was made for
  INT64 nextToken = 1;
  std::vector<HandlerRegistration> browserExited;
};

std::vector<Environment*> Environments;  // alive, UI thread only

// NORV_WEBVIEW_FAIL=environment or =controller makes that step fail; with
// "@N" only its Nth request (counted from 1) fails.
bool ShouldFail(const wchar_t* step, int request) {
  wchar_t value[32] = {};
  DWORD length = GetEnvironmentVariableW(L"NORV_WEBVIEW_FAIL", value, 32);
  if (length == 0 || length >= 32) return false;
  wchar_t* at = wcschr(value, L'@');
  if (at) *at = L'\0';
  return lstrcmpiW(value, step) == 0 && (!at || _wtoi(at + 1) == request);
}

// On Windows a rebuild asked for inside the ProcessFailed handler has been
// seen never to complete; so it is here, and the log says why.
bool NeverCompletes(const wchar_t* what) {
  if (!InsideProcessFailedHandler()) return false;
  Log(std::wstring(what) + L" asked inside a ProcessFailed handler: never completed");
  return true;
}

void DestroyEnvironment(ComObject* self) {
  auto* environment = reinterpret_cast<Environment*>(self);
  Environments.erase(std::remove(Environments.begin(), Environments.end(), environment), Environments.end());
  for (auto& entry : environment->browserExited)
    Log(L"BrowserProcessExitedHandler.Release " + std::to_wstring(entry.handler->Release()));
  const bool current = environment->generation == BrowserGeneration();
  delete environment;
  // A browser that ended took its references with it.
  if (current) ReleaseBrowser();
}

HRESULT STDMETHODCALLTYPE CreateController(ComObject*, HWND parent,
                                           ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) {
  Log(L"Environment.CreateCoreWebView2Controller");
  if (!handler) return E_INVALIDARG;
  if (!IsWindow(parent)) return HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);
  static int requests = 0;
  ++requests;
  if (NeverCompletes(L"Environment.CreateCoreWebView2Controller")) {
    handler->AddRef();
    return S_OK;
  }
  if (ShouldFail(L"controller", requests)) {
    handler->AddRef();
    Deliver([handler] {
      Log(L"ControllerCompletedHandler.Invoke " + ResultText(E_FAIL));
      handler->Invoke(E_FAIL, nullptr);
      Log(L"ControllerCompletedHandler.Release " + std::to_wstring(handler->Release()));
    });
    return S_OK;
  }
  StartController(parent, handler);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE AddBrowserProcessExited(ComObject* self,
                                                  ICoreWebView2BrowserProcessExitedEventHandler* handler,
                                                  EventRegistrationToken* token) {
  Log(L"Environment.add_BrowserProcessExited");
  if (!handler || !token) return E_INVALIDARG;
  auto* environment = reinterpret_cast<Environment*>(self);
  handler->AddRef();
  token->value = environment->nextToken++;
  environment->browserExited.push_back({token->value, handler});
  return S_OK;
}

HRESULT STDMETHODCALLTYPE RemoveBrowserProcessExited(ComObject* self, EventRegistrationToken token) {
  Log(L"Environment.remove_BrowserProcessExited");
  auto& list = reinterpret_cast<Environment*>(self)->browserExited;
  auto it = std::find_if(list.begin(), list.end(), [&](const HandlerRegistration& entry) {
    return entry.token == token.value;
  });
  if (it == list.end()) return E_INVALIDARG;
  IUnknown* handler = it->handler;
  list.erase(it);
  Log(L"BrowserProcessExitedHandler.Release " + std::to_wstring(handler->Release()));
  return S_OK;
}

ComObject* CreateEnvironmentObject() {
  static const Vtable table = [] {
    Vtable t = SparseVtable();
    FILL_SLOT(t, 3, ICoreWebView2Environment, CreateCoreWebView2Controller, CreateController);
    FILL_SLOT(t, 12, ICoreWebView2Environment5, add_BrowserProcessExited, AddBrowserProcessExited);
    FILL_SLOT(t, 13, ICoreWebView2Environment5, remove_BrowserProcessExited, RemoveBrowserProcessExited);
    return t;
  }();
  auto* environment = new Environment;
  InitObject(&environment->com, table, L"Environment", IID_ICoreWebView2Environment, DestroyEnvironment);
  environment->com.laterIid = &IID_ICoreWebView2Environment5;
  environment->generation = BrowserGeneration();
  Environments.push_back(environment);
  return &environment->com;
}

void Complete(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler, HRESULT result) {
  // The environment holds the browser reference taken for it.
  ComObject* environment = SUCCEEDED(result) ? CreateEnvironmentObject() : nullptr;
  Log(L"EnvironmentCompletedHandler.Invoke " + ResultText(result));
  handler->Invoke(result, environment ? AsInterface<ICoreWebView2Environment>(environment) : nullptr);
  Log(L"EnvironmentCompletedHandler.Release " + std::to_wstring(handler->Release()));
  if (environment) DropObject(environment);
}

std::wstring TextOrNull(PCWSTR text) { return text ? std::wstring(text) : std::wstring(L"null"); }

// "<folder>\EBWebView", as the real runtime keeps its profile; without a
// folder, "<exe name>.WebView2" beside the program.
std::wstring ProfileFolder(PCWSTR userDataFolder) {
  std::wstring folder;
  if (userDataFolder && *userDataFolder) {
    folder = userDataFolder;
  } else {
    wchar_t program[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    folder = program;
    size_t dot = folder.find_last_of(L'.');
    if (dot != std::wstring::npos && dot > folder.find_last_of(L'\\')) folder.erase(dot);
    folder += L".WebView2";
  }
  while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  return folder + L"\\EBWebView";
}

bool MakeFolders(const std::wstring& folder) {
  for (size_t at = folder.find(L'\\', 3); at != std::wstring::npos; at = folder.find(L'\\', at + 1))
    CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
  CreateDirectoryW(folder.c_str(), nullptr);
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR browserFolder, PCWSTR userDataFolder, ICoreWebView2EnvironmentOptions* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
  Log(L"CreateCoreWebView2EnvironmentWithOptions browserFolder=" + TextOrNull(browserFolder) +
      L" userDataFolder=" + TextOrNull(userDataFolder) + L" options=" + (options ? L"set" : L"null"));
  if (!handler) return E_POINTER;
  // The runtime's objects live on a single-threaded apartment's thread.
  APTTYPE apartment;
  APTTYPEQUALIFIER qualifier;
  HRESULT result = CoGetApartmentType(&apartment, &qualifier);
  if (SUCCEEDED(result) && apartment != APTTYPE_STA && apartment != APTTYPE_MAINSTA) result = RPC_E_CHANGED_MODE;
  if (FAILED(result)) {
    Log(L"CreateCoreWebView2EnvironmentWithOptions.failed " + ResultText(result));
    return result;
  }
  const std::wstring program = FindBrowserProgram();
  if (program.empty()) {
    Log(L"CreateCoreWebView2EnvironmentWithOptions.failed " + ResultText(NoRuntime) + L" no browser");
    return NoRuntime;
  }
  const std::wstring profile = ProfileFolder(userDataFolder);
  if (profile.empty() || !MakeFolders(profile)) {
    Log(L"CreateCoreWebView2EnvironmentWithOptions.failed cannot make " + profile);
    return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  }
  if (!StartDelivery()) return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
  static int requests = 0;
  ++requests;
  handler->AddRef();
  if (NeverCompletes(L"CreateCoreWebView2EnvironmentWithOptions")) return S_OK;
  if (ShouldFail(L"environment", requests)) {
    Deliver([handler] {
      Log(L"EnvironmentCompletedHandler.Invoke " + ResultText(E_FAIL));
      handler->Invoke(E_FAIL, nullptr);
      Log(L"EnvironmentCompletedHandler.Release " + std::to_wstring(handler->Release()));
    });
    return S_OK;
  }
  AcquireBrowser(program, profile, [handler](HRESULT started) { Complete(handler, started); });
  return S_OK;
}

void RaiseBrowserProcessExited(int generation, unsigned long pid) {
  std::vector<Environment*> told;
  for (Environment* environment : Environments)
    if (environment->generation == generation) {
      HoldObject(&environment->com);
      told.push_back(environment);
    }
  for (Environment* environment : told) {
    ComObject* args = CreateBrowserProcessExitedArgs(COREWEBVIEW2_BROWSER_PROCESS_EXIT_KIND_FAILED, pid);
    ForEachHandler<ICoreWebView2BrowserProcessExitedEventHandler>(environment->browserExited, [&](auto* handler) {
      handler->Invoke(AsInterface<ICoreWebView2Environment>(&environment->com),
                      AsInterface<ICoreWebView2BrowserProcessExitedEventArgs>(args));
    });
    DropObject(args);
    DropObject(&environment->com);
  }
  // After the handlers: a client acts on the event from its own loop.
  Log(L"BrowserProcessExited pid=" + std::to_wstring(pid) + L" environments=" + std::to_wstring(told.size()));
}
