// What the development service answers, and the little it remembers.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "http_exchange.h"

struct ScriptedReply {
  std::string path;  // without leading slash
  int status;
  std::string body;
};

// A page given with --page: served to GET at its path.
struct ServedPage {
  std::string path;  // without leading slash
  std::string body;
};

extern volatile LONG TunnelOpen;  // 0 or 1, changed by the connect/disconnect calls
extern bool PageHasSwitch;
extern std::vector<ScriptedReply> ScriptedReplies;  // set before the first connection
extern std::vector<ServedPage> ServedPages;         // likewise

// The target's path without leading slash and without query string.
std::string RoutePath(const std::string& target);
HttpReply Route(const HttpRequest& request);
