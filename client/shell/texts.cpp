#include "shell/texts.h"
#include "shell/app_state.h"

const wchar_t* PickText(const TextPair& pair) {
  return UiLanguage == ChineseUiLanguage ? pair.chinese : pair.english;
}
