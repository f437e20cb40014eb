// Settings and product detection read from a real registry file.
#include <gtest/gtest.h>

#include "helpers/agent_harness.h"

namespace mb::test {
namespace {

constexpr const char* kAddinSection =
    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Office\\Outlook\\Addins\\Mailbeacon_Outlook.Connect]"
    "\n";

TEST(Settings, LanguageRecognisedOnlyInUpperCaseAfterCleaning) {
  struct Case {
    const char* value;
    std::int16_t expected;
  } cases[] = {{"ENGLISH", kEnglish},
               {" ENGLISH ", kEnglish},
               {"english", kKorean},
               {"KOREAN", kKorean},
               {"", kKorean}};
  for (const auto& c : cases) {
    AgentHarness h;
    h.SetRegistry({std::string("\"Language\"=\"") + c.value + "\""});
    h.tray->LoadLanguage();
    EXPECT_EQ(h.tray->State().Language, c.expected) << c.value;
  }
}

TEST(Settings, MissingUrlStoresBothDefaults) {
  AgentHarness h;
  h.SetRegistry({"\"V_DIR\"=\"/old\""});
  h.tray->LoadServerSettings();
  EXPECT_EQ(h.tray->State().ServerUrl, kDefaultServerUrl);
  EXPECT_EQ(h.tray->State().VirtualDir, "/mailbeaconhome");
  const std::string reg = ReadFile(h.registry_path);
  EXPECT_NE(reg.find(std::string("\"URL\"=\"") + kDefaultServerUrl + "\""), std::string::npos);
  EXPECT_NE(reg.find("\"V_DIR\"=\"/mailbeaconhome\""), std::string::npos);
  EXPECT_EQ(reg.find("/old"), std::string::npos);
}

TEST(Settings, UrlCleanedAndAbsentVirtualDirStaysEmpty) {
  AgentHarness h;
  h.SetRegistry({"\"URL\"=\"  http://a b  \""});
  h.tray->LoadServerSettings();
  EXPECT_EQ(h.tray->State().ServerUrl, "http://a b");
  EXPECT_EQ(h.tray->State().VirtualDir, "");
}

TEST(Settings, UrlOfSpacesCountsAsPresent) {
  AgentHarness h;
  h.SetRegistry({"\"URL\"=\"   \"", "\"V_DIR\"=\" /v \""});
  h.tray->LoadServerSettings();
  EXPECT_EQ(h.tray->State().ServerUrl, "");
  EXPECT_EQ(h.tray->State().VirtualDir, "/v");
}

TEST(Settings, SettingsReloadedEveryRunButLanguageNot) {
  AgentHarness h;
  h.SetRegistry({"\"URL\"=\"http://one\"", "\"Language\"=\"ENGLISH\""});
  h.tray->LoadLanguage();
  h.tray->LoadServerSettings();
  h.SetRegistry({"\"URL\"=\"http://two\"", "\"Language\"=\"KOREAN\""});
  h.tray->LoadServerSettings();
  EXPECT_EQ(h.tray->State().ServerUrl, "http://two");
  EXPECT_EQ(h.tray->State().Language, kEnglish);
}

TEST(Settings, InstallType) {
  struct Case {
    std::vector<std::string> values;
    std::string addin;
    std::int16_t expected;
  } cases[] = {
      {{"\"InstallType\"=\"Express_Plugin\""},
       "\"FriendlyName\"=\"Mailbeacon_Outlook.Connect\"",
       1},
      {{}, "\"FriendlyName\"=\"Mailbeacon_Outlook.Connect\"", 1},
      {{"\"InstallType\"=\"outlook\""}, "\"FriendlyName\"=\"Mailbeacon_Outlook.Connect\"", 0},
      {{"\"InstallType\"=\"outlook\""}, "\"FriendlyName\"=\"mailbeacon_outlook.connect\"", 1},
      {{"\"InstallType\"=\"outlook\""}, "", 1},
      {{"\"InstallType\"=\"OUTLOOK EXPRESS\""},
       "\"FriendlyName\"=\"Mailbeacon_Outlook.Connect\"",
       1},
  };
  for (const auto& c : cases) {
    AgentHarness h;
    h.SetRegistry(c.values, std::string(kAddinSection) + c.addin + "\n");
    EXPECT_EQ(h.tray->DetectInstallType(), c.expected) << c.addin;
  }
}

TEST(Settings, MalformedRegistryFileGivesDefaultsAndIsNotRewritten) {
  AgentHarness h;
  const std::string junk =
      "REGEDIT4\n[HKEY_CURRENT_USER\\SOFTWARE\\BrightHarbor\\MailbeaconCom\n\"URL\"=";
  WriteFile(h.registry_path, junk);
  h.tray->LoadLanguage();
  h.tray->LoadServerSettings();
  EXPECT_EQ(h.tray->State().ServerUrl, kDefaultServerUrl);
  EXPECT_EQ(h.tray->DetectInstallType(), kExpressPlugin);
  EXPECT_EQ(ReadFile(h.registry_path), junk);
}

}  // namespace
}  // namespace mb::test
