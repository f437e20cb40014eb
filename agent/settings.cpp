// Settings and the installed product, from the registry. Every operation
// falls back to a fixed default and never reports a failure.
#include <string>

#include "agent/frm_tray.h"
#include "install/rollout.h"
#include "support/text.h"

namespace mb {

namespace {

constexpr const char* kAddinKey =
    "Software\\Microsoft\\Office\\Outlook\\Addins\\Mailbeacon_Outlook.Connect";
constexpr const char* kAddinName = "Mailbeacon_Outlook.Connect";

}  // namespace

void frmTray::LoadLanguage() {
  try {
    std::string value;
    GetRegValue(platform::kHkeyCurrentUser, kProductKey, "Language", value);
    if (value.empty()) {
      state_.Language = kKorean;
      return;
    }
    const std::string cleaned = text::Clean(value);
    if (cleaned == "KOREAN") state_.Language = kKorean;
    if (cleaned == "ENGLISH") state_.Language = kEnglish;
  } catch (const std::exception&) {
    state_.Language = kKorean;
  }
}

void frmTray::LoadServerSettings() {
  try {
    std::string url;
    GetRegValue(platform::kHkeyCurrentUser, kProductKey, "URL", url);
    if (!url.empty()) {
      state_.ServerUrl = text::Clean(url);
      std::string vdir;
      GetRegValue(platform::kHkeyCurrentUser, kProductKey, "V_DIR", vdir);
      state_.VirtualDir = text::Clean(vdir);
      return;
    }
    state_.ServerUrl = kDefaultServerUrl;
    state_.VirtualDir = kDefaultVirtualDir;
    SaveServerUrl(state_.ServerUrl);
    SaveVirtualDir(state_.VirtualDir);
  } catch (const std::exception&) {
    state_.ServerUrl = kDefaultServerUrl;
    state_.VirtualDir = kDefaultVirtualDir;
  }
}

bool frmTray::SaveServerUrl(const std::string& url) {
  try {
    // The store's status is not looked at: only a raised error counts.
    SaveRegValueString(platform::kHkeyCurrentUser, kProductKey, "URL", url);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool frmTray::SaveVirtualDir(const std::string& dir) {
  try {
    SaveRegValueString(platform::kHkeyCurrentUser, kProductKey, "V_DIR", dir);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::int16_t frmTray::DetectInstallType() {
  try {
    std::string type;
    GetRegValue(platform::kHkeyCurrentUser, kProductKey, "InstallType", type);
    if (type.empty()) return kExpressPlugin;
    if (text::Contains(text::ToLowerAscii(type), "express")) return kExpressPlugin;
    std::string name;
    GetRegValue(platform::kHkeyCurrentUser, kAddinKey, "FriendlyName", name);
    if (name.empty()) return kExpressPlugin;
    return name == kAddinName ? kOutlookAddin : kExpressPlugin;
  } catch (const std::exception&) {
    return kExpressPlugin;
  }
}

// Drawn the first time a staged release is seen and kept under the product
// key, so the machine stays in its place. A number that cannot be kept (no
// key, a registry that refuses the write) counts as the last place rather
// than a new draw at every start, which would hand the release out sooner.
int frmTray::RolloutSlot() {
  try {
    std::string text;
    GetRegValue(platform::kHkeyCurrentUser, kProductKey, kRolloutSlotValue, text);
    if (const auto kept = KeptRolloutSlot(text)) return *kept;
    const int drawn = static_cast<int>(p_.process->RandomNumber() % kRolloutSlots);
    SaveRegValueString(platform::kHkeyCurrentUser, kProductKey, kRolloutSlotValue,
                       std::to_string(drawn));
    text.clear();
    GetRegValue(platform::kHkeyCurrentUser, kProductKey, kRolloutSlotValue, text);
    return KeptRolloutSlot(text) == drawn ? drawn : kUnkeptRolloutSlot;
  } catch (const std::exception&) {
    return kUnkeptRolloutSlot;
  }
}

}  // namespace mb
