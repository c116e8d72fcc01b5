// The real uninstall-cleaner.exe against Wine's registry. Every key made here
// starts with kTag, so entries the prefix already has are left alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

const std::string kNative = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::string kWow = "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::string kTag = "NorvCleanerE2E_";
const DWORD kPathBytes = 0x3FFF;

std::string Native(const std::string& relative) { return kNative + "\\" + kTag + relative; }
std::string Wow(const std::string& relative) { return kWow + "\\" + kTag + relative; }

// Opens (or creates) HKLM\path one component at a time: Wine's ANSI
// functions refuse a path of more than 260 characters in one call.
HKEY OpenPath(const std::string& path, bool create, REGSAM access) {
  HKEY parent = HKEY_LOCAL_MACHINE;
  size_t start = 0;
  while (true) {
    size_t end = path.find('\\', start);
    std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    HKEY key = nullptr;
    LONG status =
        create ? RegCreateKeyExA(parent, part.c_str(), 0, nullptr, 0, access, nullptr, &key, nullptr)
               : RegOpenKeyExA(parent, part.c_str(), 0, access, &key);
    if (parent != HKEY_LOCAL_MACHINE) RegCloseKey(parent);
    if (status != ERROR_SUCCESS) return nullptr;
    if (end == std::string::npos) return key;
    parent = key;
    start = end + 1;
  }
}

void SetValue(const std::string& path, const char* name, DWORD type, const std::string& data) {
  HKEY key = OpenPath(path, true, KEY_ALL_ACCESS);
  ASSERT_NE(nullptr, key) << path;
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type,
                                          reinterpret_cast<const BYTE*>(data.data()),
                                          static_cast<DWORD>(data.size())));
  RegCloseKey(key);
}

// A product entry as an installer writes it, NUL included.
void MakeEntry(const std::string& path, const std::string& displayName = "NorvVPN") {
  SetValue(path, "DisplayName", REG_SZ, displayName + '\0');
}

bool KeyExists(const std::string& path) {
  HKEY key = OpenPath(path, false, KEY_READ);
  if (!key) return false;
  RegCloseKey(key);
  return true;
}

std::string Found(const std::string& path) { return "found name DisplayName:NorvVPN at " + path; }
std::string Deleted(const std::string& path) { return "deleted name DisplayName:NorvVPN at " + path; }

struct CleanerRun {
  DWORD exitCode = 1;
  std::string firstLine;
  std::vector<std::string> ours;  // lines about our keys, in output order
};

CleanerRun RunCleaner(const std::wstring& arguments) {
  CleanerRun run;
  std::wstring exe = HostPathFromEnv("NORV_CLEANER_EXE");
  ProcessResult result = RunProcess(exe, arguments, LivenessMs);
  EXPECT_TRUE(result.finished) << "cleaner did not end";
  run.exitCode = result.exitCode;
  std::vector<std::string> lines = Lines(result.out);
  if (!lines.empty()) run.firstLine = lines[0];
  for (const auto& line : lines)
    if (line.find(kTag) != std::string::npos) run.ours.push_back(line);
  return run;
}

std::vector<std::string> Sorted(std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  return lines;
}

size_t PositionOf(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
}

void DeleteTaggedKeys(const std::string& list) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, list.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return;
  std::vector<std::string> tagged;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof name;
    LONG status = RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status == ERROR_SUCCESS && std::string(name).rfind(kTag, 0) == 0) tagged.push_back(name);
  }
  // Relative to the list: a long entry name would push a full path past 260.
  for (const auto& entry : tagged) RegDeleteTreeA(key, entry.c_str());
  RegCloseKey(key);
}

class Cleaner : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(HostPathFromEnv("NORV_CLEANER_EXE").empty()) << "NORV_CLEANER_EXE not set";
    RemoveOurKeys();
  }
  // Runs after a failed assertion too.
  void TearDown() override { RemoveOurKeys(); }

  // A fresh 64-bit prefix has no 32-bit list; one made here goes again.
  void MakeWowList() { wowListMade_ = !KeyExists(kWow); }

 private:
  void RemoveOurKeys() {
    DeleteTaggedKeys(kNative);
    DeleteTaggedKeys(kWow);
    if (wowListMade_) RegDeleteKeyA(HKEY_LOCAL_MACHINE, kWow.c_str());
    wowListMade_ = false;
  }
  bool wowListMade_ = false;
};

TEST_F(Cleaner, OnlyTheSingleArgumentTrueDeletes) {
  MakeEntry(Native("ModeA"));
  MakeEntry(Native("ModeB"));
  const std::vector<std::string> found = {Found(Native("ModeA")), Found(Native("ModeB"))};

  for (const wchar_t* arguments : {L"", L"TRUE", L"1", L"true extra", L"\"true \""}) {
    SCOPED_TRACE(Narrow(arguments));
    CleanerRun run = RunCleaner(arguments);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ("Deleting NorvVPN from registry, delete:0", run.firstLine);
    EXPECT_EQ(found, Sorted(run.ours));
    EXPECT_TRUE(KeyExists(Native("ModeA")));
    EXPECT_TRUE(KeyExists(Native("ModeB")));
  }

  CleanerRun run = RunCleaner(L"true");
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_EQ("Deleting NorvVPN from registry, delete:1", run.firstLine);
  EXPECT_EQ(std::vector<std::string>({Deleted(Native("ModeA")), Deleted(Native("ModeB"))}),
            Sorted(run.ours));
  EXPECT_FALSE(KeyExists(Native("ModeA")));
  EXPECT_FALSE(KeyExists(Native("ModeB")));

  run = RunCleaner(L"true");
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_TRUE(run.ours.empty());
}

TEST_F(Cleaner, MatchesExactNameAndDataOfAnyType) {
  MakeEntry(Native("NoVersion"), "NorvVPN 1.0");
  MakeEntry(Native("NoCase"), "norvvpn");
  MakeEntry(Native("NoPrefix"), "NorvVP");
  SetValue(Native("NoNameCase"), "displayname", REG_SZ, std::string("NorvVPN") + '\0');
  SetValue(Native("NoNameLonger"), "DisplayName2", REG_SZ, std::string("NorvVPN") + '\0');
  SetValue(Native("NoDefault"), "", REG_SZ, std::string("NorvVPN") + '\0');
  SetValue(Native("NoBinaryTail"), "DisplayName", REG_BINARY, "NorvVPNx");

  MakeEntry(Native("YesSz"));
  SetValue(Native("YesExpand"), "DisplayName", REG_EXPAND_SZ, std::string("NorvVPN") + '\0');
  SetValue(Native("YesMulti"), "DisplayName", REG_MULTI_SZ, std::string("NorvVPN\0Other\0\0", 15));
  // No NUL of its own, after a longer value that filled the data buffer.
  SetValue(Native("YesBinary"), "Comments", REG_SZ, std::string("NorvVPN, a long comment") + '\0');
  SetValue(Native("YesBinary"), "DisplayName", REG_BINARY, "NorvVPN");
  SetValue(Native("YesBinaryNul"), "DisplayName", REG_BINARY, std::string("NorvVPN\0tail", 12));

  const std::vector<std::string> matched = {"YesBinary", "YesBinaryNul", "YesExpand", "YesMulti",
                                            "YesSz"};
  const std::vector<std::string> unmatched = {"NoBinaryTail", "NoCase",   "NoDefault", "NoNameCase",
                                              "NoNameLonger", "NoPrefix", "NoVersion"};
  std::vector<std::string> found, deleted;
  for (const auto& name : matched) {
    found.push_back(Found(Native(name)));
    deleted.push_back(Deleted(Native(name)));
  }

  EXPECT_EQ(found, Sorted(RunCleaner(L"").ours));
  EXPECT_EQ(deleted, Sorted(RunCleaner(L"true").ours));
  for (const auto& name : matched) EXPECT_FALSE(KeyExists(Native(name))) << name;
  for (const auto& name : unmatched) EXPECT_TRUE(KeyExists(Native(name))) << name;
}

TEST_F(Cleaner, WalksSubkeysFirstThenTheSecondList) {
  MakeWowList();
  MakeEntry(Wow("Wow"));
  MakeEntry(Native("Tree\\Child"));
  MakeEntry(Native("Tree\\Child\\Grandchild"));
  // A matching key that keeps a subkey of its own cannot be deleted.
  MakeEntry(Native("Parent"));
  MakeEntry(Native("Parent\\Inner"));
  MakeEntry(Native("Parent\\Plain"), "Something else");

  CleanerRun run = RunCleaner(L"");
  const std::vector<std::string> expectedFound = {
      Found(Native("Parent\\Inner")), Found(Native("Parent")),
      Found(Native("Tree\\Child\\Grandchild")), Found(Native("Tree\\Child")), Found(Wow("Wow"))};
  ASSERT_EQ(Sorted(expectedFound), Sorted(run.ours));
  EXPECT_LT(PositionOf(run.ours, Found(Native("Parent\\Inner"))),
            PositionOf(run.ours, Found(Native("Parent"))));
  EXPECT_LT(PositionOf(run.ours, Found(Native("Tree\\Child\\Grandchild"))),
            PositionOf(run.ours, Found(Native("Tree\\Child"))));
  EXPECT_EQ(Found(Wow("Wow")), run.ours.back());

  const std::string refused =
      "failed to delete name DisplayName:NorvVPN at " + Native("Parent") + ": error 5";
  run = RunCleaner(L"true");
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_EQ(Sorted({Deleted(Native("Parent\\Inner")), refused,
                    Deleted(Native("Tree\\Child\\Grandchild")), Deleted(Native("Tree\\Child")),
                    Deleted(Wow("Wow"))}),
            Sorted(run.ours));
  EXPECT_FALSE(KeyExists(Wow("Wow")));
  EXPECT_FALSE(KeyExists(Native("Tree\\Child")));
  EXPECT_TRUE(KeyExists(Native("Tree")));
  EXPECT_FALSE(KeyExists(Native("Parent\\Inner")));
  EXPECT_TRUE(KeyExists(Native("Parent\\Plain")));
  EXPECT_TRUE(KeyExists(Native("Parent")));

  run = RunCleaner(L"true");
  EXPECT_EQ(std::vector<std::string>({refused}), run.ours);
}

TEST_F(Cleaner, OneDeleteRunRemovesAdjacentEntries) {
  std::vector<std::string> products, others, deleted;
  for (int i = 0; i < 12; ++i) {
    char name[32];
    snprintf(name, sizeof name, "Adj%02d", i);
    (i == 5 || i == 9 ? others : products).push_back(name);
  }
  for (int i = 0; i < 4; ++i) products.push_back("AdjNest\\Child" + std::to_string(i));
  for (const auto& name : products) {
    MakeEntry(Native(name));
    deleted.push_back(Deleted(Native(name)));
  }
  for (const auto& name : others) MakeEntry(Native(name), "Another product");

  EXPECT_EQ(Sorted(deleted), Sorted(RunCleaner(L"true").ours));
  for (const auto& name : products) EXPECT_FALSE(KeyExists(Native(name))) << name;
  for (const auto& name : others) EXPECT_TRUE(KeyExists(Native(name))) << name;
  EXPECT_TRUE(RunCleaner(L"").ours.empty());
}

TEST_F(Cleaner, WalksTheDeepestTreeAndSkipsWhatDoesNotFit) {
  // 512 levels below HKLM, as deep as Windows allows, product entries in the
  // two deepest keys. The cleaner runs with a 1 MiB stack.
  std::string deep = Native("Deep");
  for (int level = 6; level < 512; ++level) deep += "\\d";
  const std::string deepParent = deep.substr(0, deep.size() - 2);
  MakeEntry(deep);
  MakeEntry(deepParent);

  // 254-character names until a path no longer fits the 16,383-byte buffer:
  // the last key that fits is reported, the first that does not is skipped.
  const std::string longName(254, 'L');
  std::string longPath = Native("Long");
  while (longPath.size() + 1 + longName.size() + 1 <= kPathBytes) longPath += "\\" + longName;
  const std::string overlong = longPath + "\\" + longName;
  MakeEntry(overlong);
  MakeEntry(longPath);
  // A name of 255 characters does not fit the 255-byte name buffer.
  const std::string longestName = Native(std::string(255 - kTag.size(), 'N'));
  MakeEntry(longestName);

  CleanerRun run = RunCleaner(L"");
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_EQ(Sorted({Found(deep), Found(deepParent), Found(longPath)}), Sorted(run.ours));

  run = RunCleaner(L"true");
  EXPECT_EQ(0u, run.exitCode);
  // The skipped key still sits below the last one that fits.
  EXPECT_EQ(Sorted({Deleted(deep), Deleted(deepParent),
                    "failed to delete name DisplayName:NorvVPN at " + longPath + ": error 5"}),
            Sorted(run.ours));
  EXPECT_FALSE(KeyExists(deepParent));
  EXPECT_TRUE(KeyExists(deepParent.substr(0, deepParent.size() - 2)));
  EXPECT_TRUE(KeyExists(overlong));
  EXPECT_TRUE(KeyExists(longestName));
}

}  // namespace
