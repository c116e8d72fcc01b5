#include "http_exchange.h"
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t MaxHeaderBytes = 64 * 1024;
constexpr size_t MaxBodyBytes = 16 * 1024 * 1024;

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

}  // namespace

bool ReadRequest(SOCKET connection, HttpRequest* request) {
  std::string received;
  char buffer[4096];
  size_t headerEnd = std::string::npos;
  while (headerEnd == std::string::npos) {
    if (received.size() > MaxHeaderBytes) return false;
    int got = recv(connection, buffer, sizeof buffer, 0);
    if (got <= 0) return false;
    received.append(buffer, static_cast<size_t>(got));
    headerEnd = received.find("\r\n\r\n");
  }

  size_t lineEnd = received.find("\r\n");
  std::string requestLine = received.substr(0, lineEnd);
  size_t space = requestLine.find(' ');
  request->method = requestLine.substr(0, space);
  if (space != std::string::npos) {
    size_t targetEnd = requestLine.find(' ', space + 1);
    request->target = requestLine.substr(space + 1, targetEnd == std::string::npos ? std::string::npos
                                                                                  : targetEnd - space - 1);
  }

  size_t contentLength = 0;
  size_t pos = lineEnd + 2;
  while (pos < headerEnd + 2) {
    size_t end = received.find("\r\n", pos);
    std::string line = received.substr(pos, end - pos);
    pos = end + 2;
    size_t colon = line.find(':');
    std::string name = colon == std::string::npos ? line : line.substr(0, colon);
    std::string value = colon == std::string::npos ? "" : Trim(line.substr(colon + 1));
    if (_stricmp(name.c_str(), "Content-Length") == 0) contentLength = strtoull(value.c_str(), nullptr, 10);
    request->headers.emplace_back(name, value);
  }

  // Read the whole body: closing with unread bytes would reset the
  // connection and could cost the client our reply.
  if (contentLength > MaxBodyBytes) contentLength = MaxBodyBytes;
  size_t body = received.size() - (headerEnd + 4);
  while (body < contentLength) {
    int got = recv(connection, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    body += static_cast<size_t>(got);
  }
  request->bodyBytes = body;
  return true;
}

void SendReply(SOCKET connection, const HttpReply& reply) {
  std::string message = "HTTP/1.1 " + std::to_string(reply.status) + " " + ReasonPhrase(reply.status) +
                        "\r\nContent-Type: " + reply.contentType +
                        "\r\nContent-Length: " + std::to_string(reply.body.size()) +
                        "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + reply.body;
  // One write: a client with a 1 ms receive time-out gets the body together
  // with the headers. The loop only goes round again after a partial send.
  size_t sent = 0;
  while (sent < message.size()) {
    int n = send(connection, message.data() + sent, static_cast<int>(message.size() - sent), 0);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
}
