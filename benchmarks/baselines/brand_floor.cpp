// The floor for the `brand` mode: the edition name from winbrand.dll, its
// percent-encoding and one WinHTTP PUT to the local service, nothing else.
#include <windows.h>
#include <shlwapi.h>
#include <winhttp.h>
#include <wchar.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  HMODULE module = LoadLibraryW(L"winbrand.dll");
  if (!module) return 1;
  using FormatProc = wchar_t*(WINAPI*)(const wchar_t*);
  auto format = reinterpret_cast<FormatProc>(reinterpret_cast<void*>(GetProcAddress(module, "BrandingFormatString")));
  wchar_t* brand = format ? format(L"%WINDOWS_LONG%") : nullptr;
  if (!brand) return 1;
  wchar_t path[MAX_PATH] = L"api/brandByUser/";
  wcsncat_s(path, MAX_PATH, brand, _TRUNCATE);
  LocalFree(brand);
  FreeLibrary(module);
  wchar_t escaped[MAX_PATH] = {};
  DWORD escapedLength = MAX_PATH;
  if (FAILED(UrlEscapeW(path, escaped, &escapedLength, URL_ESCAPE_AS_UTF8))) return 1;

  HINTERNET session = WinHttpOpen(L"floor", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0);
  HINTERNET connection = WinHttpConnect(session, L"127.0.0.1", 13001, 0);
  HINTERNET request = WinHttpOpenRequest(connection, L"PUT", escaped, nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_REFRESH);
  if (request && WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
      WinHttpReceiveResponse(request, nullptr)) {
    char body[512];
    DWORD read = 0;
    while (WinHttpReadData(request, body, sizeof body, &read) && read > 0) {
    }
  }
  if (request) WinHttpCloseHandle(request);
  if (connection) WinHttpCloseHandle(connection);
  if (session) WinHttpCloseHandle(session);
  return 0;
}
