#include "service/exchange_steps.h"
#include <cstring>
#include <cwchar>

namespace {

// Connection and request handles are closed on every way out of SendRequest,
// the request first (declared last).
struct InternetHandle {
  HINTERNET handle;
  ~InternetHandle() {
    if (handle != nullptr) WinHttpCloseHandle(handle);
  }
};

// A process-heap block that is freed unless it was handed over.
struct HeapBlock {
  void* data = nullptr;
  ~HeapBlock() {
    if (data != nullptr) HeapFree(GetProcessHeap(), 0, data);
  }
  void* Release() {
    void* handed = data;
    data = nullptr;
    return handed;
  }
};

// WinHTTP leaves the last error at 0 after a successful query, and a failed
// exchange must never look like success to the caller.
DWORD LastErrorOr(DWORD fallback) {
  DWORD error = GetLastError();
  return error != 0 ? error : fallback;
}

DWORD ReadLocation(HINTERNET request, wchar_t* location, DWORD locationCapacity) {
  DWORD size = 0;
  if (WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                          WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return 500;
  }
  HeapBlock text{HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size_t{size} + sizeof(wchar_t))};
  if (text.data == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, text.data,
                           &size, WINHTTP_NO_HEADER_INDEX)) {
    return 500;
  }
  if (location != nullptr && locationCapacity > 0) {
    wcsncpy_s(location, locationCapacity, static_cast<const wchar_t*>(text.data), _TRUNCATE);
  }
  return 0;
}

// 0 when the header block was handed over or could not be read a second
// time; an error code when the exchange has to stop here.
DWORD ReadRawHeaders(HINTERNET request, wchar_t** rawHeaders) {
  DWORD size = 0;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                           WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX) &&
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return LastErrorOr(ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
  }
  HeapBlock text{HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size_t{size} + sizeof(wchar_t))};
  if (text.data == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  if (WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                          text.data, &size, WINHTTP_NO_HEADER_INDEX)) {
    static_cast<wchar_t*>(text.data)[size / sizeof(wchar_t)] = L'\0';
    *rawHeaders = static_cast<wchar_t*>(text.Release());
  }
  return 0;
}

// Capacity doubles as the body grows, so a large reply costs time in
// proportion to its size; growing by each chunk (8 KB under Wine) made a
// 5 MB reply copy its bytes hundreds of times.
DWORD ReadBody(HINTERNET request, char** body, DWORD* length, ULONGLONG deadline) {
  HANDLE heap = GetProcessHeap();
  HeapBlock gathered;
  SIZE_T capacity = 0;
  DWORD position = 0;
  for (;;) {
    // A body that keeps coming, slowly or without end, is cut: no answer.
    if (GetTickCount64() >= deadline) return ERROR_WINHTTP_TIMEOUT;
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available) || available == 0) break;
    if (available > BodyCapBytes - position) return ERROR_WINHTTP_RESPONSE_DRAIN_OVERFLOW;
    SIZE_T needed = SIZE_T{position} + available + 1;
    if (needed > capacity) {
      SIZE_T grown = capacity * 2 > needed ? capacity * 2 : needed;
      if (grown > SIZE_T{BodyCapBytes} + 1) grown = SIZE_T{BodyCapBytes} + 1;
      void* block = gathered.data != nullptr ? HeapReAlloc(heap, 0, gathered.data, grown)
                                             : HeapAlloc(heap, 0, grown);
      if (block == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
      gathered.data = block;
      capacity = grown;
    }
    DWORD read = 0;
    // A broken connection fails every later read as well: keep what arrived.
    if (!WinHttpReadData(request, static_cast<char*>(gathered.data) + position, available, &read) ||
        read == 0) {
      break;
    }
    position += read;
  }
  if (position > 0) {
    // Handed over exactly sized; shrinking a block does not fail.
    void* exact = HeapReAlloc(heap, 0, gathered.data, SIZE_T{position} + 1);
    if (exact != nullptr) gathered.data = exact;
    char* text = static_cast<char*>(gathered.Release());
    text[position] = '\0';
    *body = text;
  }
  *length = position;
  return 0;
}

}  // namespace

void SetDwordOption(HINTERNET handle, DWORD option, DWORD value) {
  WinHttpSetOption(handle, option, &value, sizeof(value));
}

DWORD PerformExchange(const ServiceClient& client, const wchar_t* path, const wchar_t* verb,
                      const wchar_t* headers, char** body, DWORD* length, wchar_t** rawHeaders,
                      wchar_t* location, DWORD locationCapacity, DWORD* status, ULONGLONG deadline) {
  InternetHandle connection{WinHttpConnect(client.session, client.host, client.port, 0)};
  if (connection.handle == nullptr) return LastErrorOr(ERROR_WINHTTP_CANNOT_CONNECT);

  InternetHandle request{WinHttpOpenRequest(connection.handle, verb, path, nullptr, WINHTTP_NO_REFERER,
                                            WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_REFRESH)};
  if (request.handle == nullptr) return LastErrorOr(ERROR_WINHTTP_INTERNAL_ERROR);

  WinHttpAddRequestHeaders(request.handle, headers, static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD);
  if (location != nullptr) {
    SetDwordOption(request.handle, WINHTTP_OPTION_REDIRECT_POLICY, WINHTTP_OPTION_REDIRECT_POLICY_NEVER);
    SetDwordOption(request.handle, WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_REDIRECTS);
  }

  if (!WinHttpSendRequest(request.handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                          0)) {
    return LastErrorOr(ERROR_WINHTTP_CANNOT_CONNECT);
  }
  // A failed receive shows up in the queries below.
  WinHttpReceiveResponse(request.handle, nullptr);

  DWORD code = 0;
  DWORD codeSize = sizeof(code);
  if (WinHttpQueryHeaders(request.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &code, &codeSize, WINHTTP_NO_HEADER_INDEX)) {
    if (code == 301 || code == 302) {
      DWORD error = ReadLocation(request.handle, location, locationCapacity);
      if (error != 0) return error;
      if (status != nullptr) *status = code;
    } else if (code != 200 && code != 201 && code != 400) {
      DWORD error = LastErrorOr(ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
      if (status != nullptr) *status = code;
      return error;
    }
  }

  if (rawHeaders != nullptr) {
    DWORD error = ReadRawHeaders(request.handle, rawHeaders);
    if (error != 0) return error;
  }
  return ReadBody(request.handle, body, length, deadline);
}

