#include "routes.h"
#include <cstdio>
#include "dev_page.h"

volatile LONG TunnelOpen = 0;
bool PageHasSwitch = true;
std::vector<ScriptedReply> ScriptedReplies;
std::vector<ServedPage> ServedPages;

namespace {

constexpr char BrandPrefix[] = "api/brandByUser/";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecode(const std::string& text) {
  std::string decoded;
  for (size_t i = 0; i < text.size(); ++i) {
    bool escape = text[i] == '%' && i + 2 < text.size();
    int high = escape ? HexValue(text[i + 1]) : -1;
    int low = escape ? HexValue(text[i + 2]) : -1;
    if (high >= 0 && low >= 0) {
      decoded += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\u%04x", c);
      quoted += escape;
    } else {
      quoted += static_cast<char>(c);
    }
  }
  return quoted + "\"";
}

HttpReply Html(const std::string& body) {
  HttpReply page;
  page.contentType = "text/html; charset=utf-8";
  page.body = body;
  return page;
}

HttpReply Json(int status, const std::string& body) {
  HttpReply reply;
  reply.status = status;
  reply.body = body;
  return reply;
}

std::string StateJson() { return TunnelOpen ? "{\"status\":1}" : "{\"status\":0}"; }

}  // namespace

std::string RoutePath(const std::string& target) {
  std::string path = target.substr(0, target.find_first_of("?#"));
  if (!path.empty() && path[0] == '/') path.erase(0, 1);
  return path;
}

HttpReply Route(const HttpRequest& request) {
  std::string path = RoutePath(request.target);
  // Later --reply and --page options win over earlier ones for the same path.
  for (auto it = ScriptedReplies.rbegin(); it != ScriptedReplies.rend(); ++it)
    if (it->path == path) return Json(it->status, it->body);

  const std::string& method = request.method;
  if (method == "GET") {
    for (auto it = ServedPages.rbegin(); it != ServedPages.rend(); ++it)
      if (it->path == path) return Html(it->body);
  }
  if (method == "GET" && path.empty()) return Html(DevPage(PageHasSwitch));
  if (method == "GET" && path == "api/getTunnelStat") return Json(200, StateJson());
  if (method == "PUT" && path == "api/connectLocation") {
    InterlockedExchange(&TunnelOpen, 1);
    return Json(200, "{\"code\":0,\"status\":1}");
  }
  if (method == "PUT" && path == "api/disconnectLocation") {
    InterlockedExchange(&TunnelOpen, 0);
    return Json(200, "{\"code\":0,\"status\":0}");
  }
  if (method == "PUT" && path == "api/closeByUser/1") return Json(200, "{\"code\":0,\"closedByUser\":true}");
  if (method == "PUT" && path.compare(0, sizeof BrandPrefix - 1, BrandPrefix) == 0) {
    std::string brand = PercentDecode(path.substr(sizeof BrandPrefix - 1));
    return Json(200, "{\"code\":0,\"brand\":" + JsonString(brand) + "}");
  }
  return Json(404, "{\"error\":\"not found\"}");
}
