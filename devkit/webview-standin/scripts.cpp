// Answers to the two vpn_switch scripts, worked out from the development
// local service the way the real page would behave; every other script gives
// "null", since the stand-in has no script engine.
#include "standin.h"
#include <winhttp.h>
#include <nlohmann/json.hpp>

namespace {

constexpr wchar_t ServiceHost[] = L"127.0.0.1";
constexpr INTERNET_PORT ServicePort = 13001;
constexpr int TimeoutMs = 1000;
constexpr wchar_t CheckedScript[] = L"document.getElementById('vpn_switch').checked;";
constexpr wchar_t ClickScript[] = L"document.getElementById('vpn_switch').click();";

struct Reply {
  bool answered = false;
  DWORD status = 0;
  std::string body;
};

struct InternetHandle {
  HINTERNET handle;
  ~InternetHandle() {
    if (handle) WinHttpCloseHandle(handle);
  }
};

Reply Ask(const wchar_t* method, const wchar_t* path) {
  Reply reply;
  InternetHandle session{WinHttpOpen(L"NorvVPN web view stand-in", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0)};
  if (!session.handle) return reply;
  WinHttpSetTimeouts(session.handle, TimeoutMs, TimeoutMs, TimeoutMs, TimeoutMs);
  InternetHandle connection{WinHttpConnect(session.handle, ServiceHost, ServicePort, 0)};
  if (!connection.handle) return reply;
  InternetHandle request{WinHttpOpenRequest(connection.handle, method, path, nullptr, WINHTTP_NO_REFERER,
                                            WINHTTP_DEFAULT_ACCEPT_TYPES, 0)};
  if (!request.handle) return reply;
  // Wine bounds the wait for headers only with this option.
  DWORD headerTimeout = TimeoutMs;
  WinHttpSetOption(request.handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headerTimeout, sizeof headerTimeout);
  if (!WinHttpSendRequest(request.handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request.handle, nullptr))
    return reply;
  DWORD size = sizeof reply.status;
  WinHttpQueryHeaders(request.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &reply.status, &size, WINHTTP_NO_HEADER_INDEX);
  reply.answered = true;
  char buffer[4096];
  DWORD got = 0;
  while (WinHttpReadData(request.handle, buffer, sizeof buffer, &got) && got > 0) reply.body.append(buffer, got);
  return reply;
}

bool PageHasSwitch() {
  Reply page = Ask(L"GET", L"/");
  return page.answered && page.body.find("id=\"vpn_switch\"") != std::string::npos;
}

// The tunnel as the page's switch mirrors it; None when nobody answers.
SwitchState TunnelState() {
  Reply stat = Ask(L"GET", L"api/getTunnelStat");
  if (!stat.answered) return SwitchState::None;
  nlohmann::json reply = nlohmann::json::parse(stat.body, nullptr, false);
  bool closed = reply.is_object() && reply.contains("status") && reply["status"] == 0;
  return closed ? SwitchState::Off : SwitchState::On;
}

}  // namespace

std::wstring RunScript(const std::wstring& script, SwitchState* state) {
  bool checked = script == CheckedScript;
  bool click = script == ClickScript;
  if (!checked && !click) return L"null";
  // Without the element the page's script throws, and the result is "null".
  if (!PageHasSwitch()) {
    *state = SwitchState::None;
    return L"null";
  }
  *state = TunnelState();
  if (*state == SwitchState::None) return L"null";
  if (checked) return *state == SwitchState::On ? L"true" : L"false";
  bool open = *state == SwitchState::On;
  Reply toggled = Ask(L"PUT", open ? L"api/disconnectLocation" : L"api/connectLocation");
  if (toggled.answered) *state = open ? SwitchState::Off : SwitchState::On;
  return L"null";
}
