#include <gtest/gtest.h>

#include "helpers/agent_harness.h"

namespace mb::test {
namespace {

TEST(MessageCatalog, ExactTextsInBothLanguages) {
  AgentHarness h;
  auto& t = *h.tray;
  t.State().Language = kKorean;
  EXPECT_EQ(t.GetMsgByLangCode(6),
            "죄송합니다.\r\n현재 서버에서 모듈 점검중이므로, 설치작업을 하실수 없습니다.\r\n"
            "잠시후 다시 실행해보십시오.");
  EXPECT_EQ(t.GetMsgByLangCode(5),
            "현재 고객님 PC의 네트워크가 사용 불능이므로, 설치작업을 하실 수 없습니다.\r\n"
            "네트워크 상태를 점검해보십오.");
  EXPECT_EQ(t.GetMsgByLangCode(1), "파일 버전을 비교하고 있습니다...");
  t.State().Language = kEnglish;
  EXPECT_EQ(t.GetMsgByLangCode(5), "Installation impossible because of network problem.");
  EXPECT_EQ(t.GetMsgByLangCode(9),
            "Download incomplete.\r\nNext running of Mailbeacon,  it will be tried again");
  EXPECT_EQ(t.GetMsgByLangCode(4), "Installation failure");
}

TEST(MessageCatalog, UnknownCodesAndLanguagesGiveEmptyText) {
  AgentHarness h;
  auto& t = *h.tray;
  for (std::int16_t lang : {std::int16_t{0}, std::int16_t{1}}) {
    t.State().Language = lang;
    EXPECT_EQ(t.GetMsgByLangCode(0), "");
    EXPECT_EQ(t.GetMsgByLangCode(10), "");
    EXPECT_EQ(t.GetMsgByLangCode(-1), "");
  }
  t.State().Language = 2;
  for (int code = 1; code <= 9; ++code)
    EXPECT_EQ(t.GetMsgByLangCode(static_cast<std::int16_t>(code)), "");
}

TEST(IniAccess, ReadsThroughTheAnsiCodePage) {
  AgentHarness h;
  const std::string file = h.install + "/t.ini";
  WriteFile(file, "[S]\r\nk=\xC7\xD1\xB1\xDB\r\nlong=" + std::string(2000, 'x') + "\r\n");
  EXPECT_EQ(h.tray->GetVal("S", "k", file), "한글");
  EXPECT_EQ(h.tray->GetVal("s", "K", file), "한글");
  EXPECT_EQ(h.tray->GetVal("S", "long", file), std::string(1023, 'x'));
  EXPECT_EQ(h.tray->GetVal("S", "missing", file), "");
  EXPECT_EQ(h.tray->GetVal("Nope", "k", file), "");
  EXPECT_EQ(h.tray->GetVal("S", "k", h.install + "/none.ini"), "");
}

TEST(IniAccess, WritesInTheAnsiCodePageAndSwallowsFailures) {
  AgentHarness h;
  const std::string file = h.install + "/w.ini";
  h.tray->PutVal("섹션", "키", "값", file);
  EXPECT_NE(ReadFile(file).find("\xB0\xAA"), std::string::npos);  // "값" in CP949
  EXPECT_EQ(h.tray->GetVal("섹션", "키", file), "값");
  h.tray->PutVal("S", "k", "v", h.install + "/missing-dir/x.ini");  // no throw, nothing made
  EXPECT_FALSE(std::filesystem::exists(h.install + "/missing-dir"));
}

TEST(UpdateLog, AnsiLinesWithTimestampAndCrLf) {
  AgentHarness h;
  std::filesystem::create_directories(h.update);
  h.tray->WriteUpdateLog("다운로드성공 : C:\\x");
  h.tray->WriteUpdateLog("");
  EXPECT_EQ(ReadFile(h.UpdatePath("update_log.txt")),
            "[2006-06-01 14:05:09] " + h.codepage.ToAnsi("다운로드성공 : C:\\x") +
                "\r\n[2006-06-01 14:05:09] \r\n");
}

TEST(UpdateLog, MissingUpdateDirectoryRaises) {
  AgentHarness h;
  EXPECT_THROW(h.tray->WriteUpdateLog("x"), Error);
}

}  // namespace
}  // namespace mb::test
