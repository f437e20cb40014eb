// The nine messages of the update run, in Korean and English. Lines of a
// message are joined by CR LF, without a break after the last line.
#include <array>

#include "agent/frm_tray.h"

namespace mb {
namespace {

constexpr const char* kCrLf = "\r\n";

const std::array<std::string, 9>& KoreanTable() {
  static const std::array<std::string, 9> table = {
      "파일 버전을 비교하고 있습니다...",
      "파일을 다운로드 받고 있습니다.",
      "파일 다운로드 실패..",
      "Mailbeacon 설치 에러",
      std::string("현재 고객님 PC의 네트워크가 사용 불능이므로, 설치작업을 하실 수 없습니다.") +
          kCrLf + "네트워크 상태를 점검해보십오.",
      std::string("죄송합니다.") + kCrLf +
          "현재 서버에서 모듈 점검중이므로, 설치작업을 하실수 없습니다." + kCrLf +
          "잠시후 다시 실행해보십시오.",
      "배포버전을 비교하는 중..",
      std::string("새버전 다운로드가 실패했습니다.") + kCrLf + "다시 시도하시겠습니까?",
      std::string("다운로드가 제대로 완료되지 않았습니다.") + kCrLf +
          "이후 Mailbeacon 실행시, 다운로드가 다시 진행됩니다.",
  };
  return table;
}

const std::array<std::string, 9>& EnglishTable() {
  static const std::array<std::string, 9> table = {
      "Comparing file versions",
      "Downloading files..",
      "Downloading failure..",
      "Installation failure",
      "Installation impossible because of network problem.",
      std::string("Sorry.") + kCrLf + "Installation impossible because of server problem." +
          kCrLf + "Retry after a moment.",
      "Checking files.",
      std::string("New version downloading failure.") + kCrLf +
          "Do you retry downloading again?",
      std::string("Download incomplete.") + kCrLf +
          "Next running of Mailbeacon,  it will be tried again",
  };
  return table;
}

std::string Lookup(const std::array<std::string, 9>& table, std::int16_t code) {
  if (code < 1 || code > 9) return "";
  return table[static_cast<std::size_t>(code - 1)];
}

}  // namespace

std::string frmTray::GetKoreanMessage(std::int16_t intCode) {
  return Lookup(KoreanTable(), intCode);
}

std::string frmTray::GetEnglishMessage(std::int16_t intCode) {
  return Lookup(EnglishTable(), intCode);
}

std::string frmTray::GetMsgByLangCode(std::int16_t intCode) {
  if (state_.Language == kKorean) return GetKoreanMessage(intCode);
  if (state_.Language == kEnglish) return GetEnglishMessage(intCode);
  return "";
}

}  // namespace mb
