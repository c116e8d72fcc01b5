// Requests to the local VPN service on 127.0.0.1:13001: one synchronous
// WinHTTP exchange at a time, which the calling thread waits for at most
// ExchangeBoundMs.
#pragma once
#include <windows.h>
#include <winhttp.h>

constexpr wchar_t ServiceHost[] = L"127.0.0.1";
constexpr INTERNET_PORT ServicePort = 13001;
constexpr wchar_t ServiceUserAgent[] = L"NorvVpn Windows";
constexpr wchar_t ServiceHeaderLines[] = L"Accept: application/json\r\nContent-Type: application/json\r\n";
// Resolve, connect, send, receive and the wait for the response headers: a
// loopback service answers in milliseconds, and no request may hold its
// thread for more than a few seconds.
constexpr int ServiceTimeoutMs = 1000;
// However the service behaves (a reply dribbled byte by byte, a body without
// end, a connection held open), one exchange ends within this time; a reply
// cut by it is no answer. The service answers in milliseconds, and a 5 MB
// body is read in well under a second under Wine on a busy machine.
constexpr DWORD ExchangeBoundMs = 5000;
// Body bytes kept at most: far above any reply of the service (tens of
// bytes). A longer body is no answer.
constexpr DWORD BodyCapBytes = 16u << 20;
constexpr DWORD HeaderBlockCapacity = 1024;
constexpr DWORD LocationCapacity = 2084;

struct ServiceClient {
  const wchar_t* host;
  INTERNET_PORT port;
  HINTERNET session;
};

// What a caller hands to SendRequest and reads back: the header block and the
// out-values of one exchange.
struct ServiceReply {
  wchar_t headers[HeaderBlockCapacity];
  char* body;            // reply bytes plus a terminating zero; caller frees with HeapFree
  DWORD length;          // body bytes without the terminator
  wchar_t* rawHeaders;   // whole response header block; caller frees with HeapFree
  wchar_t location[LocationCapacity];
  DWORD status;          // written only for statuses other than 200, 201 and 400
};

// Sets up the record and its session, and the reply in its starting state.
void OpenServiceClient(ServiceClient* client, ServiceReply* reply);
// Closes the session, if any.
void CloseServiceClient(ServiceClient* client);

// When the bound runs out the exchange is given up and the session goes with
// it (client.session becomes null): later requests on this client fail.
DWORD SendRequest(ServiceClient& client, const wchar_t* path, const wchar_t* verb,
                  const wchar_t* headers, char** body, DWORD* length, wchar_t** rawHeaders,
                  wchar_t* location, DWORD locationCapacity, DWORD* status);

// SendRequest with every out-value of the reply.
DWORD SendRequest(ServiceClient& client, const wchar_t* path, const wchar_t* verb,
                  ServiceReply* reply);

// The service answered: status 200, 201 or 400 with a non-empty body.
bool IsAnswer(const ServiceReply& reply);
// Frees body and raw headers and sets both back to null.
void ReleaseReply(ServiceReply* reply);

enum class TunnelState { Unreadable, Closed, Open };
// Member "status" of the reply object compared with the integer 0: equal is
// closed. A body that is not one JSON object (or null) is unreadable.
TunnelState ReadTunnelState(const char* body);
