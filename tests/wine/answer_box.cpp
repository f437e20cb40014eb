// mb_answer_box CAPTION [ok|yes|no] [SECONDS]: for the end-to-end runs under
// Wine. Waits for a message box with that caption, prints its text (UTF-8),
// its buttons and its icon (no; information; yes for any other, and for the
// information icon under Wine, which cannot tell it in another process), and
// presses the button as a user would. Exit status 0 when a box was answered,
// 1 when none came in time.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32/win32_text.h"
#include "win32/helpers/dialog_answer.h"

namespace {

int CommandOf(const std::string& name) {
  if (name == "yes") return IDYES;
  if (name == "no") return IDNO;
  return IDOK;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: mb_answer_box CAPTION [ok|yes|no] [SECONDS]\n");
    return 2;
  }
  const std::wstring caption = mb::win32::Utf8ToWide(argv[1]);
  const int command = CommandOf(argc > 2 ? argv[2] : "ok");
  const int seconds = argc > 3 ? std::atoi(argv[3]) : 60;
  mb::test::DialogAnswer answer(caption, command, seconds * 1000);
  answer.Wait();
  if (!answer.Found()) {
    std::fprintf(stderr, "mb_answer_box: no box captioned %s\n", argv[1]);
    return 1;
  }
  std::printf("%s\n", mb::win32::WideToUtf8(answer.Text()).c_str());
  const char* icon = answer.HasInformationIcon() ? "information" : answer.HasIcon() ? "yes" : "no";
  std::printf("buttons:%s%s%s%s icon:%s\n", answer.HasButton(IDOK) ? " OK" : "",
              answer.HasButton(IDCANCEL) ? " Cancel" : "", answer.HasButton(IDYES) ? " Yes" : "",
              answer.HasButton(IDNO) ? " No" : "", icon);
  return 0;
}
