// GetRegValue's rendering and status rules over a real registry file.
#include <gtest/gtest.h>

#include "helpers/agent_harness.h"

namespace mb::test {
namespace {

constexpr const char* kKey = "SOFTWARE\\BrightHarbor\\MailbeaconCom";

class RegistryAccess : public ::testing::Test {
 protected:
  void SetUp() override {
    h.SetRegistry({"\"Sz\"=\"abc\"", "\"Empty\"=\"\"", "\"Dw\"=dword:00000010",
                   "\"DwBig\"=dword:12345678", "\"Bin\"=hex:01,02,03,04", "\"BinZero\"=hex:01,00",
                   "\"Exp\"=hex(2):25,00,41,00,25,00,00,00", "\"Korean\"=\"한글 값\"",
                   "@=\"default\""});
  }
  std::int32_t Get(const std::string& name, std::string& value) {
    return h.tray->GetRegValue(platform::kHkeyCurrentUser, kKey, name, value);
  }
  AgentHarness h;
};

TEST_F(RegistryAccess, StringsAsText) {
  std::string v = "old";
  EXPECT_EQ(Get("Sz", v), 0);
  EXPECT_EQ(v, "abc");
  EXPECT_EQ(Get("Empty", v), 0);
  EXPECT_EQ(v, "");
  EXPECT_EQ(Get("Korean", v), 0);
  EXPECT_EQ(v, "한글 값");
  EXPECT_EQ(Get("", v), 0);
  EXPECT_EQ(v, "default");
}

TEST_F(RegistryAccess, NumbersAsHexFromTheLastByte) {
  std::string v;
  EXPECT_EQ(Get("Dw", v), 0);
  EXPECT_EQ(v, "000010");
  v.clear();
  Get("DwBig", v);
  EXPECT_EQ(v, "12345678");
  v.clear();
  Get("Bin", v);
  EXPECT_EQ(v, "04030201");
  v.clear();
  Get("BinZero", v);  // the trailing zero byte is dropped
  EXPECT_EQ(v, "01");
  v = "pre";
  Get("Dw", v);  // digits are appended to what the caller passed
  EXPECT_EQ(v, "pre000010");
}

TEST_F(RegistryAccess, OtherTypesLeaveTheTextAsPassed) {
  std::string v = "as passed";
  EXPECT_EQ(Get("Exp", v), 0);
  EXPECT_EQ(v, "as passed");
}

TEST_F(RegistryAccess, FailureStatuses) {
  std::string v = "x";
  EXPECT_EQ(h.tray->GetRegValue(platform::kHkeyCurrentUser, "", "Sz", v), -1);
  EXPECT_EQ(v, "x");
  EXPECT_EQ(Get("Missing", v), 2);
  EXPECT_EQ(v, "");
  v = "x";
  EXPECT_EQ(h.tray->GetRegValue(platform::kHkeyCurrentUser, "SOFTWARE\\Nope", "Sz", v), 2);
  EXPECT_EQ(v, "");
}

TEST_F(RegistryAccess, TextOver1024BytesIsAFailedQuery) {
  h.SetRegistry({"\"Long\"=\"" + std::string(1100, 'a') + "\"",
                 "\"Fits\"=\"" + std::string(1023, 'b') + "\""});
  std::string v = "x";
  EXPECT_EQ(Get("Long", v), 234);
  EXPECT_EQ(v, "");
  EXPECT_EQ(Get("Fits", v), 0);
  EXPECT_EQ(v, std::string(1023, 'b'));
}

TEST_F(RegistryAccess, SaveStoresTextAndNeverCreatesKeys) {
  EXPECT_EQ(h.tray->SaveRegValueString(platform::kHkeyCurrentUser, kKey, "New", "값 \"q\""), 0);
  std::string v;
  EXPECT_EQ(Get("New", v), 0);
  EXPECT_EQ(v, "값 \"q\"");
  const std::string before = ReadFile(h.registry_path);
  EXPECT_EQ(h.tray->SaveRegValueString(platform::kHkeyCurrentUser, "SOFTWARE\\Nope", "A", "b"), 2);
  EXPECT_EQ(ReadFile(h.registry_path), before);
}

TEST_F(RegistryAccess, OutlookVersionIsTheThirdDotPiece) {
  struct Case {
    const char* value;
    const char* expected;
  } cases[] = {{"Outlook.Application.11", "11"},
               {"Outlook.Application.9", "9"},
               {"Outlook.Application.11.0", "11"},
               {"Outlook.Application", ""},
               {"Outlook.Application.", ""}};
  for (const auto& c : cases) {
    h.SetRegistry({}, std::string("[HKEY_CLASSES_ROOT\\Outlook.Application\\CurVer]\n@=\"") +
                          c.value + "\"\n");
    EXPECT_EQ(h.tray->GetOutlookVersion(), c.expected) << c.value;
  }
  h.SetRegistry({});
  EXPECT_EQ(h.tray->GetOutlookVersion(), "");
}

}  // namespace
}  // namespace mb::test
