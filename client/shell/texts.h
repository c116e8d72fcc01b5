// The client's own texts: Chinese when the UI language is 2052 (zh-CN), English
// for every other id, zh-TW and zh-SG included.
#pragma once
#include <windows.h>
#include <cwchar>

struct TextPair {
  const wchar_t* chinese;
  const wchar_t* english;
};

constexpr TextPair ProductNameText = {L"\u6F9C\u73C0VPN", L"NorvVPN"};
constexpr TextPair TunnelOpenText = {L"\u6F9C\u73C0VPN\u5DF2\u8FDE\u63A5", L"NorvVPN Connected"};
constexpr TextPair TunnelClosedText = {L"\u6F9C\u73C0VPN\u672A\u8FDE\u63A5", L"NorvVPN Disconnected"};
constexpr TextPair ServiceMissingText = {
    L"\u6F9C\u73C0VPN\u670D\u52A1\u672A\u542F\u52A8\uFF0C\u8BF7\u91CD\u65B0\u5B89\u88C5",
    L"NorvVPN service not loaded, please reinstall"};
constexpr TextPair DisconnectMenuText = {L"\u65AD\u5F00\u8FDE\u63A5", L"Disconnect"};
constexpr TextPair ConnectMenuText = {L"\u8FDE\u63A5", L"Connect"};
constexpr TextPair ExitMenuText = {L"\u9000\u51FA", L"Exit"};
constexpr TextPair WebViewFailedText = {L"\u65E0\u6CD5\u542F\u52A8\u7F51\u9875\u89C6\u56FE",
                                        L"The web view could not be started."};

// English in every language, caption included.
constexpr wchar_t ErrorBoxCaption[] = L"NorvVPN";
constexpr wchar_t RegisterClassFailedText[] = L"Call to RegisterClassEx failed!";
constexpr wchar_t CreateWindowFailedText[] = L"Call to CreateWindow failed!";

// The text of the pair for UiLanguage, decided at each use.
const wchar_t* PickText(const TextPair& pair);

// Bounded copy into a fixed field of the tray icon record; never writes past
// the field and always terminates it.
template <size_t Capacity>
void CopyText(wchar_t (&field)[Capacity], const wchar_t* text) {
  wcsncpy_s(field, Capacity, text, _TRUNCATE);
}
