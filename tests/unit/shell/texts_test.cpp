#include <gtest/gtest.h>
#include "shell/app_state.h"
#include "shell/texts.h"

TEST(Texts, ChineseOnlyFor2052) {
  UiLanguage = 2052;
  EXPECT_STREQ(L"\u6F9C\u73C0VPN", PickText(ProductNameText));
  for (LANGID id : {1033, 1028, 4100}) {
    UiLanguage = id;
    EXPECT_STREQ(L"NorvVPN", PickText(ProductNameText));
  }
}
