#include "planning/ini_formats.h"

namespace mb::ini {

std::optional<ComponentNames> NamesFor(std::int16_t kind) {
  switch (kind) {
    case kOutlookAddin:
      return ComponentNames{"outlook_addin.ini", "OUTLOOK_DOWNLOAD", "OUTLOOK_FILE_"};
    case kExpressPlugin:
      return ComponentNames{"express_plugin.ini", "EXPRESS_DOWNLOAD", "EXPRESS_FILE_"};
    case kAgentComponent:
      return ComponentNames{"mailbeacon_agent.ini", "AGENT_DOWNLOAD", "AGENT_FILE_"};
    default:
      return std::nullopt;
  }
}

}  // namespace mb::ini
