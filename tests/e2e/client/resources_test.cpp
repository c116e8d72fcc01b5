// The built program's version block, read from the file as Explorer's
// property page does.
#include <gtest/gtest.h>
#include <vector>
#include "client_run.h"

namespace {

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR context) {
  reinterpret_cast<std::vector<WORD>*>(context)->push_back(language);
  return TRUE;
}

TEST(Resources, VersionBlockIsChineseWithItsStrings) {
  const std::wstring exe = HostPathFromEnv("NORV_CLIENT_EXE");
  HMODULE image = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(nullptr, image);
  std::vector<WORD> languages;
  EnumResourceLanguagesW(image, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), CollectLanguage,
                         reinterpret_cast<LONG_PTR>(&languages));
  FreeLibrary(image);
  EXPECT_EQ((std::vector<WORD>{2052}), languages);

  DWORD handle = 0;
  std::vector<char> block(GetFileVersionInfoSizeW(exe.c_str(), &handle));
  ASSERT_FALSE(block.empty());
  ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
  WORD* translation = nullptr;
  UINT size = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                             &size));
  ASSERT_EQ(4u, size);
  EXPECT_EQ(0x0804, translation[0]);
  EXPECT_EQ(1200, translation[1]);
  for (const auto& [name, value] : std::vector<std::pair<std::wstring, std::wstring>>{
           {L"CompanyName", L"Norv"}, {L"FileDescription", L"NorvVPN"}, {L"FileVersion", L"1.0.0.0"},
           {L"InternalName", L"norvvpnui"}, {L"OriginalFilename", L"norvvpnui.exe"}, {L"ProductName", L"NorvVPN"},
           {L"ProductVersion", L"1.0.0.0"}}) {
    wchar_t* text = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), (L"\\StringFileInfo\\080404b0\\" + name).c_str(),
                               reinterpret_cast<void**>(&text), &size))
        << Narrow(name);
    EXPECT_EQ(value, std::wstring(text)) << Narrow(name);
  }
}

}  // namespace
