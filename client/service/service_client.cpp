#include "service/service_client.h"
#include <cstring>
#include <cwchar>
#include <exception>
#include <new>
#include <string>
#include <vector>
#include <nlohmann/json.hpp>
#include "service/exchange_steps.h"

namespace {

enum : LONG { ExchangeRunning, ExchangeFinished, ExchangeAbandoned };

// Everything one exchange touches, owned by whichever side ends last: the
// caller, or the exchange's thread once the caller has stopped waiting for it.
struct PendingExchange {
  volatile LONG state = ExchangeRunning;
  ServiceClient client;
  // Set before the caller gives up: the thread then closes the session too.
  bool ownsSession = false;
  std::wstring path, verb, headers;
  ULONGLONG deadline = 0;
  // The out-values start as the caller's and go back to the caller in full,
  // so what the exchange leaves alone stays as the caller set it.
  char* body = nullptr;
  DWORD length = 0;
  bool wantRawHeaders = false;
  wchar_t* rawHeaders = nullptr;
  std::vector<wchar_t> location;  // the caller's capacity and a terminator; empty when not wanted
  DWORD status = 0;
  DWORD result = 0;
};

void FreeAbandoned(PendingExchange* pending) {
  if (pending->body != nullptr) HeapFree(GetProcessHeap(), 0, pending->body);
  if (pending->rawHeaders != nullptr) HeapFree(GetProcessHeap(), 0, pending->rawHeaders);
  if (pending->ownsSession && pending->client.session != nullptr) WinHttpCloseHandle(pending->client.session);
  delete pending;
}

DWORD WINAPI RunExchange(LPVOID parameter) {
  auto* pending = static_cast<PendingExchange*>(parameter);
  pending->result = PerformExchange(
      pending->client, pending->path.c_str(), pending->verb.c_str(), pending->headers.c_str(), &pending->body,
      &pending->length, pending->wantRawHeaders ? &pending->rawHeaders : nullptr,
      pending->location.empty() ? nullptr : pending->location.data(),
      pending->location.empty() ? 0 : static_cast<DWORD>(pending->location.size() - 1), &pending->status,
      pending->deadline);
  if (InterlockedCompareExchange(&pending->state, ExchangeFinished, ExchangeRunning) == ExchangeAbandoned) {
    FreeAbandoned(pending);
  }
  return 0;
}

}  // namespace

void OpenServiceClient(ServiceClient* client, ServiceReply* reply) {
  *client = ServiceClient{};
  client->host = ServiceHost;
  client->port = ServicePort;
  client->session = WinHttpOpen(ServiceUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                WINHTTP_NO_PROXY_BYPASS, 0);
  WinHttpSetTimeouts(client->session, ServiceTimeoutMs, ServiceTimeoutMs, ServiceTimeoutMs,
                     ServiceTimeoutMs);
  // The receive time-out does not cover the wait for the response headers.
  SetDwordOption(client->session, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, ServiceTimeoutMs);

  memset(reply, 0, sizeof(*reply));
  wcsncpy_s(reply->headers, HeaderBlockCapacity, ServiceHeaderLines, _TRUNCATE);
}

void CloseServiceClient(ServiceClient* client) {
  if (client->session != nullptr) WinHttpCloseHandle(client->session);
  client->session = nullptr;
}

// The step time-outs bound each wait, not the exchange: a service that
// dribbles its reply keeps every step alive. A synchronous WinHTTP call cannot
// be cut from outside (under Wine, closing the handle does not release a
// WinHttpSendRequest waiting for a dribbled header block), so the exchange
// runs on a thread of its own and the caller waits for it at most
// ExchangeBoundMs. A thread given up on frees what it holds when it ends.
DWORD SendRequest(ServiceClient& client, const wchar_t* path, const wchar_t* verb, const wchar_t* headers,
                  char** body, DWORD* length, wchar_t** rawHeaders, wchar_t* location, DWORD locationCapacity,
                  DWORD* status) {
  if (client.session == nullptr) return ERROR_INVALID_HANDLE;
  PendingExchange* pending = nullptr;
  try {
    pending = new PendingExchange;
    pending->client = client;
    pending->path = path;
    pending->verb = verb;
    pending->headers = headers;
    pending->length = *length;
    pending->wantRawHeaders = rawHeaders != nullptr;
    if (location != nullptr) {
      pending->location.assign(location, location + locationCapacity);
      pending->location.push_back(L'\0');
    }
    if (status != nullptr) pending->status = *status;
  } catch (const std::bad_alloc&) {
    delete pending;
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  pending->deadline = GetTickCount64() + ExchangeBoundMs;

  HANDLE thread = CreateThread(nullptr, 0, RunExchange, pending, 0, nullptr);
  if (thread == nullptr) {
    DWORD error = GetLastError();
    delete pending;
    return error;
  }
  if (WaitForSingleObject(thread, ExchangeBoundMs) != WAIT_OBJECT_0) {
    pending->ownsSession = true;
    if (InterlockedCompareExchange(&pending->state, ExchangeAbandoned, ExchangeRunning) == ExchangeRunning) {
      CloseHandle(thread);
      // The session now belongs to the exchange still under way.
      client.session = nullptr;
      return ERROR_WINHTTP_TIMEOUT;
    }
    // It finished as the bound ran out: only its return is left.
    WaitForSingleObject(thread, INFINITE);
  }
  CloseHandle(thread);

  if (pending->body != nullptr) *body = pending->body;
  *length = pending->length;
  if (rawHeaders != nullptr && pending->rawHeaders != nullptr) *rawHeaders = pending->rawHeaders;
  if (!pending->location.empty()) wmemcpy(location, pending->location.data(), locationCapacity);
  if (status != nullptr) *status = pending->status;
  DWORD result = pending->result;
  delete pending;
  return result;
}

DWORD SendRequest(ServiceClient& client, const wchar_t* path, const wchar_t* verb,
                  ServiceReply* reply) {
  return SendRequest(client, path, verb, reply->headers, &reply->body, &reply->length, &reply->rawHeaders,
                     reply->location, LocationCapacity, &reply->status);
}

bool IsAnswer(const ServiceReply& reply) { return reply.status == 0 && reply.body != nullptr; }

void ReleaseReply(ServiceReply* reply) {
  if (reply->body != nullptr) HeapFree(GetProcessHeap(), 0, reply->body);
  if (reply->rawHeaders != nullptr) HeapFree(GetProcessHeap(), 0, reply->rawHeaders);
  reply->body = nullptr;
  reply->rawHeaders = nullptr;
}

TunnelState ReadTunnelState(const char* body) {
  if (body == nullptr) return TunnelState::Unreadable;
  try {
    nlohmann::json value = nlohmann::json::parse(body, body + strlen(body));
    // Only an object (or null, which becomes one) has a "status" member to read.
    if (!value.is_object() && !value.is_null()) return TunnelState::Unreadable;
    return value["status"] == 0 ? TunnelState::Closed : TunnelState::Open;
  } catch (const std::exception&) {
    return TunnelState::Unreadable;
  }
}
