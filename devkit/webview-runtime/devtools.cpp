#include "devtools.h"
#include <windows.h>
#include <winhttp.h>
#include <objbase.h>
#include <map>
#include <vector>
#include <memory>
#include "call_log.h"

namespace {

constexpr DWORD ReceiveChunk = 64 * 1024;

CRITICAL_SECTION SendLock;  // one send at a time, and the id counter with it
CRITICAL_SECTION PendingLock;
// A command waits for its reply on the connection it went out on.
struct PendingReply {
  LONG connection;
  CommandReply reply;
};
std::map<long long, PendingReply> Pending;  // under PendingLock
long long NextId = 1;                       // under SendLock
HINTERNET Session = nullptr;
HINTERNET Connection = nullptr;
HINTERNET Socket = nullptr;
// The connection commands go out on now (one per browser started), 0 when
// none: an older connection's reader, still leaving, cannot end a newer one.
volatile LONG Connected = 0;
LONG LastConnection = 0;

struct LockSetup {
  LockSetup() {
    InitializeCriticalSection(&SendLock);
    InitializeCriticalSection(&PendingLock);
  }
} lockSetup;

CommandReply TakePending(long long id) {
  CommandReply reply;
  EnterCriticalSection(&PendingLock);
  auto it = Pending.find(id);
  if (it != Pending.end()) {
    reply = std::move(it->second.reply);
    Pending.erase(it);
  }
  LeaveCriticalSection(&PendingLock);
  return reply;
}

void FailPending(LONG connection) {
  std::vector<CommandReply> failed;
  EnterCriticalSection(&PendingLock);
  for (auto it = Pending.begin(); it != Pending.end();) {
    if (it->second.connection != connection) {
      ++it;
      continue;
    }
    failed.push_back(std::move(it->second.reply));
    it = Pending.erase(it);
  }
  LeaveCriticalSection(&PendingLock);
  const Json error = {{"message", "the DevTools connection has ended"}};
  for (auto& reply : failed)
    if (reply) reply(Json(), error);
}

void Dispatch(const std::string& text, const EventSink& sink) {
  Json message = Json::parse(text, nullptr, false);
  if (!message.is_object()) return;
  if (message.contains("id")) {
    CommandReply reply = TakePending(message["id"].is_number_integer() ? message["id"].get<long long>() : 0);
    if (reply) {
      const Json none;
      const Json& result = message.contains("result") ? message["result"] : none;
      const Json& error = message.contains("error") ? message["error"] : none;
      reply(result, error);
    }
    return;
  }
  std::string method = message.value("method", "");
  if (method.empty()) return;
  std::string session = message.value("sessionId", "");
  static const Json empty = Json::object();
  sink(session, method, message.contains("params") ? message["params"] : empty);
}

// What one reader thread uses: a browser started after this one's end gets
// a connection and a sink of its own while this thread may still be leaving.
struct Reader {
  LONG connection;
  HINTERNET socket;
  EventSink sink;
};

DWORD WINAPI ReadMessages(void* parameter) {
  std::unique_ptr<Reader> reader(static_cast<Reader*>(parameter));
  // Frames are decoded here with WIC.
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  std::string text;
  std::string chunk(ReceiveChunk, '\0');
  for (;;) {
    DWORD got = 0;
    WINHTTP_WEB_SOCKET_BUFFER_TYPE type;
    DWORD error = WinHttpWebSocketReceive(reader->socket, &chunk[0], ReceiveChunk, &got, &type);
    if (error != NO_ERROR || type == WINHTTP_WEB_SOCKET_CLOSE_BUFFER_TYPE) break;
    text.append(chunk.data(), got);
    if (type == WINHTTP_WEB_SOCKET_UTF8_FRAGMENT_BUFFER_TYPE || type == WINHTTP_WEB_SOCKET_BINARY_FRAGMENT_BUFFER_TYPE)
      continue;
    Dispatch(text, reader->sink);
    text.clear();
  }
  InterlockedCompareExchange(&Connected, 0, reader->connection);
  Log(L"DevTools.disconnected");
  FailPending(reader->connection);
  reader->sink(std::string(), std::string(), Json());
  return 0;
}

}  // namespace

bool ConnectDevTools(int port, const std::wstring& path, EventSink sink) {
  // A browser started after an earlier one has ended gets a new connection.
  for (HINTERNET* handle : {&Socket, &Connection, &Session}) {
    if (*handle) WinHttpCloseHandle(*handle);
    *handle = nullptr;
  }
  Session = WinHttpOpen(L"NorvWebViewRuntime", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                        WINHTTP_NO_PROXY_BYPASS, 0);
  if (!Session) return false;
  Connection = WinHttpConnect(Session, L"127.0.0.1", static_cast<INTERNET_PORT>(port), 0);
  HINTERNET request = Connection ? WinHttpOpenRequest(Connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                                      WINHTTP_DEFAULT_ACCEPT_TYPES, 0)
                                 : nullptr;
  if (!request) return false;
  bool upgraded = WinHttpSetOption(request, WINHTTP_OPTION_UPGRADE_TO_WEB_SOCKET, nullptr, 0) &&
                  WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
                  WinHttpReceiveResponse(request, nullptr);
  Socket = upgraded ? WinHttpWebSocketCompleteUpgrade(request, 0) : nullptr;
  WinHttpCloseHandle(request);
  if (!Socket) return false;
  const LONG connection = ++LastConnection;
  InterlockedExchange(&Connected, connection);
  auto* reader = new Reader{connection, Socket, std::move(sink)};
  HANDLE thread = CreateThread(nullptr, 0, ReadMessages, reader, 0, nullptr);
  if (!thread) {
    delete reader;
    InterlockedCompareExchange(&Connected, 0, connection);
    return false;
  }
  CloseHandle(thread);
  return true;
}

void SendCommand(const std::string& method, const Json& params, const std::string& session, CommandReply reply) {
  EnterCriticalSection(&SendLock);
  const long long id = NextId++;
  Json message = {{"id", id}, {"method", method}, {"params", params}};
  if (!session.empty()) message["sessionId"] = session;
  // Registered before sending: the reply may come before WinHttpWebSocketSend returns.
  const LONG connection = Connected;
  EnterCriticalSection(&PendingLock);
  Pending[id] = {connection, std::move(reply)};
  LeaveCriticalSection(&PendingLock);
  std::string text = message.dump(-1, ' ', false, Json::error_handler_t::replace);
  DWORD error = connection ? WinHttpWebSocketSend(Socket, WINHTTP_WEB_SOCKET_UTF8_MESSAGE_BUFFER_TYPE, &text[0],
                                                 static_cast<DWORD>(text.size()))
                          : ERROR_INVALID_HANDLE;
  LeaveCriticalSection(&SendLock);
  if (error == NO_ERROR) return;
  CommandReply failed = TakePending(id);
  if (failed) failed(Json(), Json{{"message", "the DevTools connection is closed"}});
}

bool DevToolsConnected() { return Connected != 0; }
