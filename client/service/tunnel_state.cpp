#include "service/tunnel_state.h"
#include "service/service_client.h"
#include "shell/app_state.h"
#include "shell/console.h"
#include "shell/texts.h"
#include "shell/tray.h"

namespace {

// Long enough for the service to have started along with the client.
constexpr DWORD StartDelayMs = 10000;
constexpr UINT BalloonTimeoutMs = 15000;

}  // namespace

DWORD WINAPI TunnelStateThread(LPVOID parameter) {
  Sleep(StartDelayMs);
  delete static_cast<int*>(parameter);
  CheckTunnelStateAndNotify();
  return 0;
}

void CheckTunnelStateAndNotify() {
  ServiceClient client;
  ServiceReply reply;
  OpenServiceClient(&client, &reply);
  SendRequest(client, L"api/getTunnelStat", L"GET", &reply);

  TunnelState state = IsAnswer(reply) ? ReadTunnelState(reply.body) : TunnelState::Unreadable;
  if (state == TunnelState::Unreadable) {
    CopyText(TrayIconData.szInfo, PickText(ServiceMissingText));
    TrayIconData.dwInfoFlags = NIIF_WARNING;
  } else {
    bool closed = state == TunnelState::Closed;
    WriteStdout(closed ? "tunnel closed" : "tunnel opened");
    CopyText(TrayIconData.szInfo, PickText(closed ? TunnelClosedText : TunnelOpenText));
    TrayIconData.dwInfoFlags = NIIF_INFO;
  }
  CopyText(TrayIconData.szInfoTitle, PickText(ProductNameText));
  CopyText(TrayIconData.szTip, PickText(ProductNameText));
  // NIF_INFO alone: the modify call shows the balloon and leaves icon, tip and
  // callback as they are.
  TrayIconData.uFlags = NIF_INFO;
  TrayIconData.uTimeout = BalloonTimeoutMs;

  // The UI thread reads the record only when this message arrives.
  if (IsWindow(MainWindow)) PostMessageW(MainWindow, WM_TRAYREFRESH, 0, 0);

  ReleaseReply(&reply);
  CloseServiceClient(&client);
}
