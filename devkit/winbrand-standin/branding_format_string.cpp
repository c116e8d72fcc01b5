// Development stand-in for the system's winbrand.dll; never shipped.
// The edition name comes from NORV_BRAND_NAME (default "Windows 11 Pro");
// NORV_BRAND_NULL=1 makes the call fail as a broken system library would.
#include <windows.h>
#include <cwchar>
#include <string>

namespace {

constexpr wchar_t Token[] = L"%WINDOWS_LONG%";
constexpr size_t TokenLength = sizeof Token / sizeof Token[0] - 1;

// Whole value, any length; empty when set to nothing, fallback when unset.
std::wstring Environment(const wchar_t* name, const wchar_t* fallback) {
  DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return fallback;
  std::wstring value(size, L'\0');
  DWORD length = GetEnvironmentVariableW(name, &value[0], size);
  // The variable may have grown between the two calls; try once more.
  if (length >= size) return Environment(name, fallback);
  value.resize(length);
  return value;
}

}  // namespace

extern "C" wchar_t* WINAPI BrandingFormatString(const wchar_t* format) {
  if (!format || Environment(L"NORV_BRAND_NULL", L"") == L"1") return nullptr;
  std::wstring name = Environment(L"NORV_BRAND_NAME", L"Windows 11 Pro");

  std::wstring text;
  for (const wchar_t* p = format; *p;) {
    if (wcsncmp(p, Token, TokenLength) == 0) {
      text += name;
      p += TokenLength;
    } else {
      text += *p++;
    }
  }
  // The caller releases the text with LocalFree.
  size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  wchar_t* result = static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED, bytes));
  if (result) memcpy(result, text.c_str(), bytes);
  return result;
}
