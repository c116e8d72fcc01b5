#include "shell/tool_modes.h"
#include <cwchar>
#include "proxy/proxy_settings.h"
#include "service/service_commands.h"

ToolMode PickToolMode(int argc, wchar_t** argv) {
  auto is = [argv](const wchar_t* word) { return wcscmp(argv[1], word) == 0; };
  switch (argc) {
    case 2:
      if (is(L"brand")) return ToolMode::Brand;
      if (is(L"off")) return ToolMode::Off;
      return ToolMode::None;
    case 3:
      return is(L"pac") ? ToolMode::Pac : ToolMode::None;
    case 4:
      return is(L"global") ? ToolMode::Global : ToolMode::None;
    default:
      return ToolMode::None;
  }
}

void RunToolMode(ToolMode mode, wchar_t** argv) {
  INTERNET_PER_CONN_OPTION_LISTW list;
  switch (mode) {
    case ToolMode::None:
      return;
    case ToolMode::Brand:
      if (wchar_t* brand = QueryWindowsBrand()) {
        ReportWindowsBrand(brand);
        LocalFree(brand);
      }
      return;
    case ToolMode::Off:
      SetProxyOff();
      return;
    case ToolMode::Pac:
      AllocateOptionList(&list, 2);
      list.pOptions[0].dwOption = INTERNET_PER_CONN_FLAGS;
      list.pOptions[0].Value.dwValue = PROXY_TYPE_DIRECT | PROXY_TYPE_AUTO_PROXY_URL;
      list.pOptions[1].dwOption = INTERNET_PER_CONN_AUTOCONFIG_URL;
      list.pOptions[1].Value.pszValue = argv[2];
      break;
    case ToolMode::Global:
      AllocateOptionList(&list, 3);
      list.pOptions[0].dwOption = INTERNET_PER_CONN_FLAGS;
      list.pOptions[0].Value.dwValue = PROXY_TYPE_DIRECT | PROXY_TYPE_PROXY;
      list.pOptions[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
      list.pOptions[1].Value.pszValue = argv[2];
      list.pOptions[2].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
      list.pOptions[2].Value.pszValue = argv[3];
      break;
  }
  ApplyToAllConnections(&list);
  FreeOptionList(&list);
}
