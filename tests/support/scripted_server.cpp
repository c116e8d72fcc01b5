#include "support/scripted_server.h"
#include <ws2tcpip.h>
#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

constexpr unsigned short ServerPort = 13001;

bool Readable(SOCKET socket, DWORD ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(socket, &set);
  timeval wait = {static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000)};
  return select(0, &set, nullptr, nullptr, &wait) > 0;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// Header bytes up to the blank line, then as many body bytes as announced.
std::string ReadRequest(SOCKET connection) {
  std::string raw;
  char buffer[4096];
  size_t headerEnd = std::string::npos;
  while (headerEnd == std::string::npos) {
    if (!Readable(connection, 5000)) return raw;
    int got = recv(connection, buffer, sizeof buffer, 0);
    if (got <= 0) return raw;
    raw.append(buffer, static_cast<size_t>(got));
    headerEnd = raw.find("\r\n\r\n");
  }
  size_t announced = 0;
  for (const auto& value : ParseRequest(raw).Values("content-length")) announced = strtoul(value.c_str(), nullptr, 10);
  while (raw.size() < headerEnd + 4 + announced && Readable(connection, 2000)) {
    int got = recv(connection, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    raw.append(buffer, static_cast<size_t>(got));
  }
  return raw;
}

}  // namespace

ScriptStep SendBytes(const std::string& bytes) { return {ScriptStep::Send, bytes, 0, nullptr}; }
ScriptStep PauseFor(DWORD ms) { return {ScriptStep::Pause, "", ms, nullptr}; }
ScriptStep HoldSilent() { return {ScriptStep::Hold, "", 0, nullptr}; }
ScriptStep DribbleForever(char filler, DWORD intervalMs) {
  return {ScriptStep::Dribble, std::string(1, filler), intervalMs, nullptr};
}
ScriptStep FloodForever(const std::string& block) { return {ScriptStep::Flood, block, 0, nullptr}; }
ScriptStep ResetConnection() { return {ScriptStep::Reset, "", 0, nullptr}; }
ScriptStep CallOnRequest(std::function<void()> call) { return {ScriptStep::Call, "", 0, std::move(call)}; }

std::string ReplyHead(int status, size_t contentLength, const std::string& extraHeaders) {
  return "HTTP/1.1 " + std::to_string(status) + " Scripted\r\nContent-Type: application/json\r\n" +
         "Content-Length: " + std::to_string(contentLength) + "\r\nConnection: close\r\n" + extraHeaders +
         "\r\n";
}

Script Reply(int status, const std::string& body, const std::string& extraHeaders) {
  return {SendBytes(ReplyHead(status, body.size(), extraHeaders) + body)};
}

Script ReplyAfter(std::function<void()> call, int status, const std::string& body) {
  return {CallOnRequest(std::move(call)), SendBytes(ReplyHead(status, body.size()) + body)};
}

Script HeaderBlockDribbled() { return {SendBytes("HTTP/1.1 200 OK\r\nX-Pad: "), DribbleForever('a', 200)}; }

Script BodyDribbled() { return {SendBytes(ReplyHead(200, 1000000) + "{\"status\":"), DribbleForever(' ', 200)}; }

Script EndlessBody() {
  return {SendBytes("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n"
                    "{\"status\":0,\"pad\":\""),
          FloodForever(std::string(65536, 'x'))};
}

std::vector<std::pair<const char*, Script>> MisbehavingServices() {
  return {{"header block dribbled", HeaderBlockDribbled()},
          {"body dribbled", BodyDribbled()},
          {"endless body", EndlessBody()}};
}

ScriptedServer::ScriptedServer() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  BOOL reuse = TRUE;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(ServerPort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 16) != 0) {
    closesocket(listener);
    return;
  }
  listener_ = listener;
  thread_ = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  for (auto& connection : connections_) connection.join();
  if (listener_ != INVALID_SOCKET) closesocket(listener_);
  WSACleanup();
}

void ScriptedServer::Add(const Script& script) {
  std::lock_guard<std::mutex> guard(lock_);
  scripts_.push_back(script);
}

std::vector<std::string> ScriptedServer::Requests() const {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

void ScriptedServer::Run() {
  while (!stopping_) {
    if (!Readable(listener_, 100)) continue;
    SOCKET connection = accept(listener_, nullptr, nullptr);
    if (connection == INVALID_SOCKET) continue;
    // A blocked send looks at stopping_ again every second.
    DWORD sendTimeoutMs = 1000;
    setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendTimeoutMs),
               sizeof sendTimeoutMs);
    connections_.emplace_back([this, connection] { Answer(connection); });
  }
}

void ScriptedServer::Answer(SOCKET connection) {
  std::string request = ReadRequest(connection);
  Script script;
  bool scripted = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    requests_.push_back(request);
    if (nextScript_ < scripts_.size()) {
      script = scripts_[nextScript_++];
      scripted = true;
    }
  }
  Serve(connection, scripted ? &script : nullptr);
}

bool ScriptedServer::SendRepeatedly(SOCKET connection, const ScriptStep& step) {
  const ULONGLONG until = GetTickCount64() + 120000;
  while (!stopping_ && GetTickCount64() < until) {
    if (send(connection, step.bytes.data(), static_cast<int>(step.bytes.size()), 0) == SOCKET_ERROR) {
      if (WSAGetLastError() != WSAETIMEDOUT) return false;
    }
    if (step.kind == ScriptStep::Dribble) Sleep(step.ms);
  }
  return true;
}

void ScriptedServer::Serve(SOCKET connection, const Script* script) {
  if (script != nullptr) {
    for (const auto& step : *script) {
      switch (step.kind) {
        case ScriptStep::Send:
          send(connection, step.bytes.data(), static_cast<int>(step.bytes.size()), 0);
          break;
        case ScriptStep::Pause:
          Sleep(step.ms);
          break;
        case ScriptStep::Call:
          step.call();
          break;
        case ScriptStep::Hold: {
          // Bounded, so a client that waits for ever fails its test instead of hanging it.
          char sink[256];
          ULONGLONG until = GetTickCount64() + 15000;
          while (!stopping_ && GetTickCount64() < until) {
            if (Readable(connection, 100) && recv(connection, sink, sizeof sink, 0) <= 0) break;
          }
          break;
        }
        case ScriptStep::Dribble:
        case ScriptStep::Flood:
          if (!SendRepeatedly(connection, step)) {
            closesocket(connection);
            return;
          }
          break;
        case ScriptStep::Reset: {
          linger abort = {1, 0};
          setsockopt(connection, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
          closesocket(connection);
          return;
        }
      }
    }
  }
  shutdown(connection, SD_SEND);
  closesocket(connection);
}

std::vector<std::string> ParsedRequest::Values(const std::string& name) const {
  std::vector<std::string> values;
  for (const auto& header : headers)
    if (header.first == name) values.push_back(header.second);
  return values;
}

ParsedRequest ParseRequest(const std::string& raw) {
  ParsedRequest parsed;
  size_t headerEnd = raw.find("\r\n\r\n");
  std::string head = raw.substr(0, headerEnd);
  if (headerEnd != std::string::npos) parsed.body = raw.substr(headerEnd + 4);
  size_t start = 0;
  bool first = true;
  while (start <= head.size()) {
    size_t end = head.find("\r\n", start);
    if (end == std::string::npos) end = head.size();
    std::string line = head.substr(start, end - start);
    if (first) {
      size_t space1 = line.find(' ');
      size_t space2 = line.find(' ', space1 + 1);
      parsed.method = line.substr(0, space1);
      parsed.target = line.substr(space1 + 1, space2 - space1 - 1);
      parsed.version = space2 == std::string::npos ? "" : line.substr(space2 + 1);
      first = false;
    } else if (size_t colon = line.find(':'); colon != std::string::npos) {
      parsed.headers.emplace_back(Lower(Trim(line.substr(0, colon))), Trim(line.substr(colon + 1)));
    }
    start = end + 2;
  }
  return parsed;
}

std::vector<std::string> RequestLines(const ScriptedServer& server) {
  std::vector<std::string> lines;
  for (const auto& raw : server.Requests()) {
    ParsedRequest request = ParseRequest(raw);
    lines.push_back(request.method + " " + request.target);
  }
  return lines;
}
