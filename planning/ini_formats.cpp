#include "planning/ini_formats.h"

namespace mb::ini {

std::optional<ComponentNames> NamesFor(std::int16_t kind) {
  switch (kind) {
    case kOutlookAddin:
      return ComponentNames{files::kOutlookManifest, "OUTLOOK_DOWNLOAD", "OUTLOOK_FILE_"};
    case kExpressPlugin:
      return ComponentNames{files::kExpressManifest, "EXPRESS_DOWNLOAD", "EXPRESS_FILE_"};
    case kAgentComponent:
      return ComponentNames{files::kAgentManifest, "AGENT_DOWNLOAD", "AGENT_FILE_"};
    default:
      return std::nullopt;
  }
}

std::optional<std::int16_t> KindOfSection(const std::string& section) {
  for (std::int16_t kind = kOutlookAddin; kind <= kAgentComponent; ++kind) {
    if (NamesFor(kind)->ComponentSection == section) return kind;
  }
  return std::nullopt;
}

}  // namespace mb::ini
