#include "service/service_commands.h"
#include <shlwapi.h>
#include <cwchar>
#include <memory>
#include <new>
#include "service/service_client.h"
#include "shell/console.h"
#include "shell/system_library.h"

namespace {

constexpr wchar_t BrandPathPrefix[] = L"api/brandByUser/";
constexpr DWORD BrandPathCapacity = MAX_PATH;

using BrandingFormatStringProc = wchar_t*(WINAPI*)(const wchar_t*);

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }

}  // namespace

void CloseTunnel() {
  ServiceClient client;
  ServiceReply reply;
  OpenServiceClient(&client, &reply);
  SendRequest(client, L"api/getTunnelStat", L"GET", &reply);
  if (IsAnswer(reply) && ReadTunnelState(reply.body) == TunnelState::Open) {
    WriteStdout("close tunnel");
    ReleaseReply(&reply);
    SendRequest(client, L"api/disconnectLocation", L"PUT", &reply);
    if (IsAnswer(reply)) WriteStdout(reply.body, reply.length);
  }
  ReleaseReply(&reply);
  CloseServiceClient(&client);
}

void ReportClosedByUser() {
  ServiceClient client;
  ServiceReply reply;
  OpenServiceClient(&client, &reply);
  SendRequest(client, L"api/closeByUser/1", L"PUT", &reply);
  if (IsAnswer(reply)) WriteStdout(reply.body, reply.length);
  ReleaseReply(&reply);
  CloseServiceClient(&client);
}

wchar_t* QueryWindowsBrand() {
  HMODULE module = nullptr;
  auto formatString = LoadLibraryFunction<BrandingFormatStringProc>(L"winbrand.dll", "BrandingFormatString", &module);
  if (formatString == nullptr) return nullptr;
  wchar_t* copy = nullptr;
  wchar_t format[100] = L"%WINDOWS_LONG%";
  wchar_t* brand = formatString(format);
  if (brand != nullptr) {
    size_t length = wcslen(brand);
    copy = static_cast<wchar_t*>(LocalAlloc(LMEM_ZEROINIT, (length + 1) * sizeof(wchar_t)));
    if (copy != nullptr) wmemcpy(copy, brand, length + 1);
    // The library allocates the text for us with LocalAlloc.
    LocalFree(brand);
  }
  FreeLibrary(module);
  return copy;
}

void ReportWindowsBrand(const wchar_t* name) {
  ServiceClient client;
  ServiceReply reply;
  OpenServiceClient(&client, &reply);

  wchar_t path[BrandPathCapacity] = {};
  wcsncpy_s(path, BrandPathCapacity, BrandPathPrefix, _TRUNCATE);
  size_t used = wcslen(path);
  size_t take = wcsnlen(name, BrandPathCapacity - 1 - used);
  // Never cut between the halves of a surrogate pair.
  if (take > 0 && name[take] != L'\0' && IsHighSurrogate(name[take - 1])) --take;
  wmemcpy(path + used, name, take);
  path[used + take] = L'\0';

  wchar_t escaped[BrandPathCapacity] = {};
  DWORD escapedCapacity = BrandPathCapacity;
  HRESULT result = UrlEscapeW(path, escaped, &escapedCapacity, URL_ESCAPE_AS_UTF8);
  if (SUCCEEDED(result)) {
    SendRequest(client, escaped, L"PUT", &reply);
  } else if (result == E_POINTER && escapedCapacity > BrandPathCapacity) {
    // Every non-ASCII character takes up to nine escaped characters: the
    // encoded path may outgrow the plain one.
    std::unique_ptr<wchar_t[]> larger(new (std::nothrow) wchar_t[escapedCapacity]);
    if (larger && SUCCEEDED(UrlEscapeW(path, larger.get(), &escapedCapacity, URL_ESCAPE_AS_UTF8))) {
      SendRequest(client, larger.get(), L"PUT", &reply);
    }
  }
  ReleaseReply(&reply);
  CloseServiceClient(&client);
}
