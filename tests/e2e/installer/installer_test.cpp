// The development package (NorvVPN-<version>-win64-dev.exe) installed
// silently into this prefix, its client run from Program Files, installed
// again over the running client, neither installed nor uninstalled while
// another process holds a file, installed over a read-only program,
// uninstalled while a client runs, and failing on a file it cannot overwrite.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

constexpr wchar_t UninstallList[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t Wow32UninstallList[] = L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t EntryKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\NorvVPN";
constexpr wchar_t InstallFolder[] = L"C:\\Program Files\\NorvVPN";
constexpr wchar_t InstalledClient[] = L"C:\\Program Files\\NorvVPN\\norvvpnui.exe";
constexpr wchar_t InstalledUninstaller[] = L"C:\\Program Files\\NorvVPN\\uninstall.exe";
constexpr wchar_t LocalDumps[] = L"SOFTWARE\\Microsoft\\Windows\\Windows Error Reporting\\LocalDumps";
// What an earlier build wrote.
constexpr wchar_t LocalDumpsKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\Windows Error Reporting\\LocalDumps\\norvvpnui.exe";
constexpr wchar_t Shortcut[] = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\NorvVPN.lnk";
constexpr wchar_t InternetSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr DWORD InstallerTimeoutMs = 180000;

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool KeyExists(const std::wstring& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &handle) != ERROR_SUCCESS)
    return false;
  RegCloseKey(handle);
  return true;
}

struct RegValue {
  DWORD type = REG_NONE;
  std::wstring text;
  DWORD number = 0;
};

// A value of HKLM\key in the given view (KEY_WOW64_64KEY or KEY_WOW64_32KEY).
RegValue ReadValue(const wchar_t* key, const wchar_t* name, REGSAM view = KEY_WOW64_64KEY) {
  RegValue value;
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | view, &handle) != ERROR_SUCCESS) return value;
  BYTE data[2048] = {};
  DWORD size = sizeof data - sizeof(wchar_t);
  if (RegQueryValueExW(handle, name, nullptr, &value.type, data, &size) == ERROR_SUCCESS) {
    if (value.type == REG_SZ || value.type == REG_EXPAND_SZ) value.text = reinterpret_cast<const wchar_t*>(data);
    if (value.type == REG_DWORD) value.number = *reinterpret_cast<const DWORD*>(data);
  }
  RegCloseKey(handle);
  return value;
}

// Every entry of both uninstall lists whose DisplayName is "NorvVPN", as
// "<list>\<key>".
std::vector<std::wstring> NorvEntries() {
  std::vector<std::wstring> found;
  for (const wchar_t* list : {UninstallList, Wow32UninstallList}) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, list, 0, KEY_READ | KEY_WOW64_64KEY, &handle) != ERROR_SUCCESS) continue;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
      DWORD length = 256;
      if (RegEnumKeyExW(handle, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      const std::wstring key = std::wstring(list) + L"\\" + name;
      if (ReadValue(key.c_str(), L"DisplayName").text == L"NorvVPN") found.push_back(key);
    }
    RegCloseKey(handle);
  }
  return found;
}

// Every value of HKLM\key in the native view as "<key> <name> <type> <data>".
std::vector<std::string> KeyValues(const wchar_t* key) {
  std::vector<std::string> lines;
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_64KEY, &handle) != ERROR_SUCCESS) return lines;
  wchar_t name[256];
  BYTE data[2048];
  for (DWORD i = 0, length = 256, size = sizeof data, type = 0;
       RegEnumValueW(handle, i, name, &length, nullptr, &type, data, &size) == ERROR_SUCCESS;
       ++i, length = 256, size = sizeof data) {
    const std::string value =
        type == REG_DWORD ? std::to_string(*reinterpret_cast<const DWORD*>(data))
                          : Narrow(std::wstring(reinterpret_cast<const wchar_t*>(data), size / 2).c_str());
    lines.push_back(Narrow(key) + " " + Narrow(name) + " " + std::to_string(type) + " " + value);
  }
  RegCloseKey(handle);
  return lines;
}

std::string FileHash(const std::wstring& path) { return std::to_string(std::hash<std::string>{}(ReadFileText(path))); }

// What an install leaves: the folder's files with their hashes, the entry,
// the shortcut and an earlier build's dump key.
std::vector<std::string> InstallState() {
  std::vector<std::string> state;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((std::wstring(InstallFolder) + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring path = std::wstring(InstallFolder) + L"\\" + found.cFileName;
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        state.push_back(Narrow(found.cFileName) + " " + FileHash(path));
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  std::sort(state.begin(), state.end());
  state.push_back(Exists(Shortcut) ? "shortcut " + FileHash(Shortcut) : "no shortcut");
  for (const wchar_t* key : {EntryKey, LocalDumpsKey})
    for (const auto& line : KeyValues(key)) state.push_back(line);
  return state;
}

// As the installer's File opens it.
bool OpensForWriting(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

DWORD ReadProxyEnable() {
  DWORD value = 0xFFFF, size = sizeof value;
  RegGetValueW(HKEY_CURRENT_USER, InternetSettings, L"ProxyEnable", RRF_RT_REG_DWORD, nullptr, &value, &size);
  return value;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Its output goes to a file: the installer's first window starts Wine's
// desktop process, which would keep pipes of ours open for good.
bool StartInstaller(ChildProcess& installer, const std::wstring& exe, const std::wstring& arguments,
                    const RunFolder& folder) {
  ChildOptions options;
  options.outputFile = folder.File(L"installer.log");
  return installer.Start(exe, arguments, {}, options);
}

DWORD RunInstaller(const std::wstring& arguments = L"/S") {
  RunFolder folder;
  ChildProcess installer;
  DWORD status = 0xFFFFFFFF;
  const bool ended = StartInstaller(installer, HostPathFromEnv("NORV_INSTALLER"), arguments, folder) &&
                     installer.Wait(InstallerTimeoutMs, &status);
  EXPECT_TRUE(ended) << "the installer did not start or end";
  return ended ? status : 0xFFFFFFFF;
}

// Run in place, as a management tool waits for it: its status is the
// uninstaller's own, and it leaves itself and the folder.
DWORD UninstallInPlace() {
  const ProcessResult run =
      RunProcess(InstalledUninstaller, L"/S _?=" + std::wstring(InstallFolder), InstallerTimeoutMs);
  EXPECT_TRUE(run.finished) << "the uninstaller did not end";
  return run.finished ? run.exitCode : 0xFFFFFFFF;
}

size_t EditionReports(const DevService& service) {
  const auto requests = service.Requests();
  return std::count(requests.begin(), requests.end(), "PUT /api/brandByUser/Windows%2011%20Pro");
}

// The installed client, its web view runtime logging into the service's log,
// until its window is there and it has reported the edition (which comes
// after its reset of the user's proxy).
void StartInstalledClient(ChildProcess& client, const DevService& service) {
  const size_t reports = EditionReports(service);
  ASSERT_TRUE(client.Start(InstalledClient, L"", {L"NORV_WEBVIEW_LOG=" + service.LogPath()}));
  ASSERT_TRUE(WaitUntil([&] { return FindWindowW(L"NorvVpnUI", nullptr) != nullptr; }, LivenessMs));
  ASSERT_TRUE(WaitUntil([&] { return EditionReports(service) > reports; }, LivenessMs));
}

void ExpectOneEntryInTheNativeView() {
  EXPECT_EQ(std::vector<std::wstring>{EntryKey}, NorvEntries());
  EXPECT_EQ(REG_SZ, ReadValue(EntryKey, L"DisplayName", KEY_WOW64_64KEY).type);
  EXPECT_EQ(REG_NONE, ReadValue(EntryKey, L"DisplayName", KEY_WOW64_32KEY).type);
}

TEST(Installer, SilentInstallRunReinstallHeldFilesAndUninstall) {
  ASSERT_FALSE(Exists(InstallFolder)) << "a copy is installed already";
  DevService service;
  ASSERT_TRUE(service.Start());

  // Fresh install: the files, one typed entry in the native view, the shortcut.
  DWORD start = GetTickCount();
  ASSERT_EQ(0u, RunInstaller());
  printf("silent install: %.1f s\n", (GetTickCount() - start) / 1000.0);
  for (const wchar_t* file : {L"norvvpnui.exe", L"uninstall-cleaner.exe", L"WebView2Loader.dll", L"winbrand.dll",
                              L"uninstall.exe"})
    EXPECT_TRUE(Exists(std::wstring(InstallFolder) + L"\\" + file)) << Narrow(file);
  ExpectOneEntryInTheNativeView();
  const std::vector<std::pair<const wchar_t*, const wchar_t*>> texts = {
      {L"DisplayName", L"NorvVPN"},
      {L"DisplayVersion", L"1.0.0.0"},
      {L"Publisher", L"Norv"},
      {L"DisplayIcon", L"C:\\Program Files\\NorvVPN\\norvvpnui.exe,0"},
      {L"InstallLocation", L"C:\\Program Files\\NorvVPN"},
      {L"UninstallString", L"\"C:\\Program Files\\NorvVPN\\uninstall.exe\""},
      {L"QuietUninstallString", L"\"C:\\Program Files\\NorvVPN\\uninstall.exe\" /S"}};
  for (const auto& [name, text] : texts) {
    const RegValue value = ReadValue(EntryKey, name);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), value.type) << Narrow(name);
    EXPECT_EQ(std::wstring(text), value.text) << Narrow(name);
  }
  for (const wchar_t* name : {L"NoModify", L"NoRepair"}) {
    const RegValue value = ReadValue(EntryKey, name);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), value.type) << Narrow(name);
    EXPECT_EQ(1u, value.number) << Narrow(name);
  }
  const RegValue size = ReadValue(EntryKey, L"EstimatedSize");
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), size.type);
  EXPECT_GT(size.number, 1000u);  // KB: the programs and the runtime are several MB
  // Nothing for Windows Error Reporting: its LocalDumps key, once there,
  // keeps dumps of every program's crashes.
  EXPECT_FALSE(KeyExists(LocalDumps));
  // Wine keeps no shortcut properties (its IPropertyStore on a shell link is
  // a stub), so the application id cannot be read back here: the link's
  // target is what can be checked.
  const std::string link = ReadFileText(Shortcut);
  const std::wstring target = InstalledClient;
  EXPECT_NE(std::string::npos, link.find(std::string(reinterpret_cast<const char*>(target.c_str()),
                                                     target.size() * sizeof(wchar_t))));

  // The installed client shows the page and reports the edition.
  {
    ChildProcess client;
    ASSERT_NO_FATAL_FAILURE(StartInstalledClient(client, service));
    EXPECT_TRUE(WaitUntil([&] { return HasPaintedFrame(service.LogLines()); }, LivenessMs));

    // Installed again while it runs: the client quits by its Exit command.
    ASSERT_EQ(0u, RunInstaller());
    DWORD status = 1;
    EXPECT_TRUE(client.Wait(0, &status)) << "the client still runs";
    EXPECT_EQ(0u, status);
    EXPECT_TRUE(Contains(service.Requests(), "PUT /api/closeByUser/1"));
    ExpectOneEntryInTheNativeView();
    EXPECT_TRUE(Exists(InstalledClient));
    EXPECT_TRUE(Exists(Shortcut));
  }

  // An earlier build's dump key for the client, beside another program's.
  const DWORD ten = 10;
  for (const std::wstring& key : {std::wstring(LocalDumpsKey), std::wstring(LocalDumps) + L"\\other.exe"})
    ASSERT_EQ(0, RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"DumpCount", REG_DWORD, &ten, sizeof ten));

  // A file held by another process, as by a client in another user's
  // session: a reinstall stops with status 3 before it changes anything, and
  // so does an uninstall of the held program, also when the holder writes
  // and shares everything (the copy itself shares reading only). The
  // installer also replaces uninstall.exe, which the uninstaller (that very
  // program, run in place) leaves out of its check.
  const std::vector<std::string> installed = InstallState();
  for (const auto& [name, how] : {std::pair(L"norvvpnui.exe", L""), std::pair(L"uninstall.exe", L""),
                                  std::pair(L"norvvpnui.exe", L"--write ")}) {
    SCOPED_TRACE(Narrow(name) + " " + Narrow(how));
    const std::wstring path = std::wstring(InstallFolder) + L"\\" + name;
    ChildProcess holder;
    ASSERT_TRUE(holder.Start(HostPathFromEnv("NORV_HOLD_FILE"), how + (L"\"" + path + L"\"")));
    ASSERT_TRUE(WaitUntil([&] { return !OpensForWriting(path); }, LivenessMs)) << "the helper holds nothing";
    EXPECT_EQ(3u, RunInstaller());
    EXPECT_EQ(installed, InstallState());
    if (path == InstalledClient) {
      EXPECT_EQ(3u, UninstallInPlace());
      EXPECT_EQ(installed, InstallState());
    }
    holder.Kill();
    ASSERT_TRUE(holder.Wait(LivenessMs));
  }
  // A read-only program is made writable and replaced, as NSIS does itself.
  ASSERT_TRUE(SetFileAttributesW(InstalledClient, FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(0u, RunInstaller());
  EXPECT_EQ(0u, GetFileAttributesW(InstalledClient) & FILE_ATTRIBUTE_READONLY);

  // Free again, both go through; the uninstaller removes only the client's
  // dump key.
  ASSERT_EQ(0u, UninstallInPlace());
  EXPECT_EQ(std::vector<std::wstring>{}, NorvEntries());
  EXPECT_FALSE(Exists(InstalledClient));
  EXPECT_FALSE(KeyExists(LocalDumpsKey));
  EXPECT_TRUE(KeyExists(std::wstring(LocalDumps) + L"\\other.exe"));
  ASSERT_EQ(0u, RunInstaller());
  ExpectOneEntryInTheNativeView();

  // Uninstalled while a client runs, after `global` set the user's proxy,
  // with a stray entry of an older 32-bit install in the other list.
  ChildProcess client;
  ASSERT_NO_FATAL_FAILURE(StartInstalledClient(client, service));
  ProcessResult global = RunProcess(InstalledClient, L"global 10.9.8.7:3128 \"<local>\"");
  ASSERT_TRUE(global.finished);
  ASSERT_EQ(1u, ReadProxyEnable());
  HKEY stray = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(Wow32UninstallList) + L"\\NorvVPN").c_str(),
                                           0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &stray, nullptr));
  const wchar_t name[] = L"NorvVPN";
  RegSetValueExW(stray, L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name), sizeof name);
  RegCloseKey(stray);
  ASSERT_EQ(2u, NorvEntries().size());

  start = GetTickCount();
  ProcessResult uninstall = RunProcess(L"C:\\Program Files\\NorvVPN\\uninstall.exe", L"/S", InstallerTimeoutMs);
  ASSERT_TRUE(uninstall.finished);
  EXPECT_EQ(0u, uninstall.exitCode);
  // The uninstaller goes on from a copy of itself in %TEMP%; removing the
  // folder is its last step.
  ASSERT_TRUE(WaitUntil([] { return !Exists(InstallFolder); }, InstallerTimeoutMs)) << "the folder stays";
  printf("silent uninstall: %.1f s\n", (GetTickCount() - start) / 1000.0);
  EXPECT_TRUE(client.Wait(0)) << "the client still runs";
  EXPECT_EQ(0u, ReadProxyEnable());
  EXPECT_EQ(std::vector<std::wstring>{}, NorvEntries());
  EXPECT_FALSE(Exists(Shortcut));
  EXPECT_FALSE(KeyExists(EntryKey));

  // A file that opens for writing but cannot be overwritten, mapped by
  // another process: the copy fails after the check passed. Status 3, the
  // files before it copied, none after it, and no entry or shortcut.
  RunFolder elsewhere;
  HANDLE file = CreateFileW(elsewhere.File(L"WebView2Loader.dll").c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW, 0, nullptr);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, "MZ", 2, &written, nullptr));
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  CloseHandle(mapping);
  CloseHandle(file);
  ASSERT_NE(nullptr, view);
  EXPECT_EQ(3u, RunInstaller(L"/S /D=" + elsewhere.Path()));
  UnmapViewOfFile(view);
  EXPECT_TRUE(Exists(elsewhere.File(L"norvvpnui.exe")));
  EXPECT_FALSE(Exists(elsewhere.File(L"winbrand.dll")));
  EXPECT_EQ(std::vector<std::wstring>{}, NorvEntries());
  EXPECT_FALSE(Exists(Shortcut));
}

std::wstring TextOf(HWND window) {
  wchar_t text[1024] = {};
  DWORD_PTR length = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &length);
  return text;
}

// Each visible window of the process with its top-level window: the pages,
// their controls and message boxes.
std::vector<std::pair<HWND, HWND>> ShownWindows(DWORD process) {
  std::pair<DWORD, std::vector<std::pair<HWND, HWND>>> search = {process, {}};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto& [process, found] = *reinterpret_cast<decltype(search)*>(context);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != process || !IsWindowVisible(window)) return TRUE;
        found.push_back({window, window});
        EnumChildWindows(window, [](HWND child, LPARAM found) -> BOOL {
          auto& list = *reinterpret_cast<std::vector<std::pair<HWND, HWND>>*>(found);
          if (IsWindowVisible(child)) list.push_back({list.back().first, child});
          return TRUE;
        }, reinterpret_cast<LPARAM>(&found));
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.second;
}

// The process's top-level window that shows the text, once there.
HWND WaitForPage(DWORD process, const std::wstring& text) {
  HWND page = nullptr;
  WaitUntil([&] {
    for (const auto& [top, window] : ShownWindows(process))
      if (TextOf(window) == text) page = top;
    return page != nullptr;
  }, LivenessMs);
  if (page == nullptr) {
    std::string shown;
    for (const auto& shownWindow : ShownWindows(process)) shown += "\n  " + Narrow(TextOf(shownWindow.second));
    ADD_FAILURE() << "no page \"" << Narrow(text) << "\"; shown:" << shown;
  }
  return page;
}

void Press(HWND dialog, int button) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
}

// Titles and texts the pages show: NSIS's own and ours.
struct PageTexts {
  const wchar_t* setup;
  const wchar_t* setupWelcome;
  const wchar_t* setupFinish;
  const wchar_t* uninstall;
  const wchar_t* uninstallWelcome;
  const wchar_t* uninstallFinish;
  const wchar_t* held;  // then the file's path and heldEnd
  const wchar_t* heldEnd;
};

constexpr PageTexts EnglishPages = {
    L"NorvVPN Setup", L"Welcome to NorvVPN Setup", L"Completing NorvVPN Setup", L"NorvVPN Uninstall",
    L"Welcome to NorvVPN Uninstall", L"Completing NorvVPN Uninstall",
    L"NorvVPN is still running, perhaps for another user. This file is in use:",
    L"Quit NorvVPN there, then choose Retry. Cancel changes nothing."};

constexpr PageTexts ChinesePages = {
    L"\u6F9C\u73C0VPN \u5B89\u88C5",
    L"\u6B22\u8FCE\u4F7F\u7528 \u6F9C\u73C0VPN \u5B89\u88C5\u7A0B\u5E8F",
    L"\u6F9C\u73C0VPN \u5B89\u88C5\u7A0B\u5E8F\u7ED3\u675F",
    L"\u6F9C\u73C0VPN \u5378\u8F7D",
    L"\u6B22\u8FCE\u4F7F\u7528 \u6F9C\u73C0VPN \u5378\u8F7D\u7A0B\u5E8F",
    L"\u6F9C\u73C0VPN \u5378\u8F7D\u7A0B\u5E8F\u7ED3\u675F",
    L"\u6F9C\u73C0VPN\u4ECD\u5728\u8FD0\u884C\uFF08\u53EF\u80FD\u662F\u53E6\u4E00\u4F4D\u7528\u6237\u5728\u4F7F\u7528"
    L"\uFF09\u3002\u4EE5\u4E0B\u6587\u4EF6\u6B63\u88AB\u5360\u7528\uFF1A",
    L"\u8BF7\u5148\u5728\u90A3\u91CC\u9000\u51FA\u6F9C\u73C0VPN\uFF0C\u7136\u540E\u70B9\u51FB\u201C\u91CD\u8BD5\u201D"
    L"\u3002\u70B9\u51FB\u201C\u53D6\u6D88\u201D\u5C06\u4E0D\u505A\u4EFB\u4F55\u66F4\u6539\u3002"};

// The pages in the user's UI language: Chinese for 2052 alone, as the
// client's texts. CTest runs this again under zh_CN and zh_TW (test.cmake).
TEST(InstallerPages, UserLanguageAndRetryWhileHeld) {
  if (const char* expected = getenv("NORV_EXPECT_LANGID")) {
    ASSERT_EQ(atoi(expected), GetUserDefaultUILanguage());
  }
  const PageTexts& texts = GetUserDefaultUILanguage() == 2052 ? ChinesePages : EnglishPages;
  const std::wstring held = std::wstring(texts.held) + L"\r\n" + InstalledClient + L"\r\n" + texts.heldEnd;
  ASSERT_FALSE(Exists(InstallFolder)) << "a copy is installed already";
  ASSERT_EQ(0u, RunInstaller());
  // Whatever fails, the next test finds nothing installed.
  struct Removal {
    ~Removal() {
      if (Exists(InstalledUninstaller)) UninstallInPlace();
      DeleteFileW(InstalledUninstaller);
      RemoveDirectoryW(InstallFolder);
    }
  } removal;

  RunFolder folder;
  ChildProcess holder, installer;
  ASSERT_TRUE(holder.Start(HostPathFromEnv("NORV_HOLD_FILE"), L"\"" + std::wstring(InstalledClient) + L"\""));
  ASSERT_TRUE(WaitUntil([&] { return !OpensForWriting(InstalledClient); }, LivenessMs));
  ASSERT_TRUE(StartInstaller(installer, HostPathFromEnv("NORV_INSTALLER"), L"", folder));
  HWND page = WaitForPage(installer.Id(), texts.setupWelcome);
  ASSERT_NE(nullptr, page);
  EXPECT_EQ(texts.setup, TextOf(page));
  Press(page, IDOK);
  ASSERT_NE(nullptr, WaitForPage(installer.Id(), InstallFolder));
  Press(page, IDOK);
  // Held: the message comes back after Retry until the file is free.
  HWND message = WaitForPage(installer.Id(), held);
  ASSERT_NE(nullptr, message);
  Press(message, IDRETRY);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(message); }, LivenessMs));
  message = WaitForPage(installer.Id(), held);
  ASSERT_NE(nullptr, message);
  holder.Kill();
  Press(message, IDRETRY);
  ASSERT_NE(nullptr, WaitForPage(installer.Id(), texts.setupFinish));
  Press(page, IDOK);
  DWORD status = 0xFFFFFFFF;
  ASSERT_TRUE(installer.Wait(InstallerTimeoutMs, &status));
  EXPECT_EQ(0u, status);

  // The uninstaller in place, so that its window is this process's.
  ChildProcess uninstaller;
  ASSERT_TRUE(StartInstaller(uninstaller, InstalledUninstaller, L"_?=" + std::wstring(InstallFolder), folder));
  page = WaitForPage(uninstaller.Id(), texts.uninstallWelcome);
  ASSERT_NE(nullptr, page);
  EXPECT_EQ(texts.uninstall, TextOf(page));
  Press(page, IDOK);
  ASSERT_NE(nullptr, WaitForPage(uninstaller.Id(), InstallFolder));
  Press(page, IDOK);
  ASSERT_NE(nullptr, WaitForPage(uninstaller.Id(), texts.uninstallFinish));
  Press(page, IDOK);
  ASSERT_TRUE(uninstaller.Wait(InstallerTimeoutMs, &status));
  EXPECT_EQ(0u, status);
  EXPECT_EQ(std::vector<std::wstring>{}, NorvEntries());
}

}  // namespace
