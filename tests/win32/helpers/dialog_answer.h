// Answers one message box from another thread, as a user would: waits for a
// dialog with the given caption, records its text and buttons, then presses
// the button `command` (IDOK, IDYES, IDNO).
#pragma once

#include <windows.h>

#include <string>
#include <thread>

namespace mb::test {

class DialogAnswer {
 public:
  DialogAnswer(std::wstring caption, int command, int timeout_ms = 10000);
  ~DialogAnswer();  // waits for the answering thread
  void Wait();      // until the box was answered or the time is up
  DialogAnswer(const DialogAnswer&) = delete;
  DialogAnswer& operator=(const DialogAnswer&) = delete;

  // Valid once the box was answered (after the box call returned).
  bool Found() const { return found_; }
  const std::wstring& Text() const { return text_; }
  bool HasButton(int id) const;
  bool HasIcon() const { return has_icon_; }
  // The icon is the system's information icon (MB_ICONINFORMATION). Told
  // only for a box of this process under Wine, whose icon handles are not
  // shared between processes as Windows' are.
  bool HasInformationIcon() const { return information_icon_; }

 private:
  void Run();

  std::wstring caption_;
  int command_;
  int timeout_ms_;
  bool found_ = false;
  bool has_icon_ = false;
  bool information_icon_ = false;
  std::wstring text_;
  int buttons_[8] = {};
  std::thread thread_;
};

}  // namespace mb::test
