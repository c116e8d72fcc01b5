// A loopback HTTP server on 127.0.0.1:13001 inside the test binary: each
// request received plays the next scripted reply on a thread of its own (a
// connection held by one script does not keep the next one waiting), and the
// raw request bytes are kept for the test to read.
#pragma once
#include <winsock2.h>
#include <windows.h>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct ScriptStep {
  enum Kind { Send, Pause, Hold, Reset, Call, Dribble, Flood } kind;
  std::string bytes;  // Send; the byte (Dribble) or block (Flood) sent again and again
  DWORD ms;           // Pause; Dribble's interval
  std::function<void()> call;
};
// A script that runs out closes the connection gracefully.
using Script = std::vector<ScriptStep>;

ScriptStep SendBytes(const std::string& bytes);
ScriptStep PauseFor(DWORD ms);
// Keeps the connection open and silent until the client gives up (15 s at most).
ScriptStep HoldSilent();
// Until the client closes or the server ends (2 min at most): one byte of
// `filler` every `intervalMs` (a reply that never completes) ...
ScriptStep DribbleForever(char filler, DWORD intervalMs);
// ... or `block` again and again as fast as the client reads.
ScriptStep FloodForever(const std::string& block);
// Abortive close (RST).
ScriptStep ResetConnection();
// Runs `call` on the server's thread while the client waits for the reply:
// a look at the client's state at the moment of its request.
ScriptStep CallOnRequest(std::function<void()> call);

// Status line and headers, Content-Length and Connection: close included.
std::string ReplyHead(int status, size_t contentLength, const std::string& extraHeaders = "");
// A whole reply in one write.
Script Reply(int status, const std::string& body, const std::string& extraHeaders = "");
// The same reply after `call`.
Script ReplyAfter(std::function<void()> call, int status, const std::string& body);

// Services that never finish their reply: the status line and then a header
// line one byte every 200 ms; the whole head and then the body one byte every
// 200 ms; or a body without end, as fast as the client reads it.
Script HeaderBlockDribbled();
Script BodyDribbled();
Script EndlessBody();
// The three, each with its name.
std::vector<std::pair<const char*, Script>> MisbehavingServices();

class ScriptedServer {
 public:
  ScriptedServer();
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  bool Listening() const { return listener_ != INVALID_SOCKET; }
  // Played in order, one per connection; a connection beyond the scripts is
  // closed unanswered.
  void Add(const Script& script);
  // Raw bytes of each request received, in arrival order.
  std::vector<std::string> Requests() const;

 private:
  void Run();
  void Answer(SOCKET connection);
  void Serve(SOCKET connection, const Script* script);
  bool SendRepeatedly(SOCKET connection, const ScriptStep& step);

  SOCKET listener_ = INVALID_SOCKET;
  std::atomic<bool> stopping_{false};
  mutable std::mutex lock_;
  std::vector<Script> scripts_;
  size_t nextScript_ = 0;
  std::vector<std::string> requests_;
  std::thread thread_;
  std::vector<std::thread> connections_;
};

// A parsed request: request line, headers by lower-case name, bytes after the
// blank line.
struct ParsedRequest {
  std::string method, target, version;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // Values of every header of that (lower-case) name.
  std::vector<std::string> Values(const std::string& name) const;
};
ParsedRequest ParseRequest(const std::string& raw);

// "METHOD target" of each request received, in arrival order.
std::vector<std::string> RequestLines(const ScriptedServer& server);
