#include "win32/helpers/dialog_answer.h"

#include <algorithm>

namespace mb::test {
namespace {

constexpr int kMessageBoxTextId = 0xFFFF;  // the static control holding the text
// The static control holding the icon: 0x0014 on Windows, stc1 (0x0440)
// under Wine, where it is there and visible even without an icon.
constexpr int kMessageBoxIconIds[] = {0x0014, 0x0440};

HICON IconOf(HWND dlg) {
  for (int id : kMessageBoxIconIds) {
    HWND icon = GetDlgItem(dlg, id);
    if (icon == nullptr || !IsWindowVisible(icon)) continue;
    if (auto shown = reinterpret_cast<HICON>(SendMessageW(icon, STM_GETICON, 0, 0))) return shown;
  }
  return nullptr;
}

std::wstring TextOf(HWND w) {
  wchar_t buf[1024] = {};
  GetWindowTextW(w, buf, 1024);
  return buf;
}

}  // namespace

DialogAnswer::DialogAnswer(std::wstring caption, int command, int timeout_ms)
    : caption_(std::move(caption)),
      command_(command),
      timeout_ms_(timeout_ms),
      thread_([this] { Run(); }) {}

DialogAnswer::~DialogAnswer() { Wait(); }

void DialogAnswer::Wait() {
  if (thread_.joinable()) thread_.join();
}

bool DialogAnswer::HasButton(int id) const {
  return std::find(std::begin(buttons_), std::end(buttons_), id) != std::end(buttons_);
}

void DialogAnswer::Run() {
  for (int waited = 0; waited < timeout_ms_; waited += 20) {
    HWND dlg = FindWindowW(L"#32770", caption_.c_str());
    if (dlg != nullptr && IsWindowVisible(dlg)) {
      found_ = true;
      text_ = TextOf(GetDlgItem(dlg, kMessageBoxTextId));
      const HICON icon = IconOf(dlg);
      has_icon_ = icon != nullptr;
      information_icon_ =
          has_icon_ && icon == LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_INFORMATION));
      int n = 0;
      for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO}) {
        if (GetDlgItem(dlg, id) != nullptr && n < 8) buttons_[n++] = id;
      }
      PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(command_, BN_CLICKED), 0);
      return;
    }
    Sleep(20);
  }
}

}  // namespace mb::test
