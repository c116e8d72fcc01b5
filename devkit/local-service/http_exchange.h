// Reading one HTTP/1.1 request from a connection and answering it.
#pragma once
#include <winsock2.h>
#include <string>
#include <utility>
#include <vector>

struct HttpRequest {
  std::string method;
  std::string target;  // exactly as sent, query string and percent escapes included
  std::vector<std::pair<std::string, std::string>> headers;  // in arrival order
  size_t bodyBytes = 0;
};

struct HttpReply {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
};

// False when the peer closed or stalled before a whole header block arrived
// (a port probe, for example); nothing is logged or answered then.
bool ReadRequest(SOCKET connection, HttpRequest* request);
void SendReply(SOCKET connection, const HttpReply& reply);
