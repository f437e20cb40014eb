#include "helpers/agent_harness.h"

#include <filesystem>

namespace mb::test {

AgentHarness::AgentHarness() {
  install = (dir.path() / "inst").string();
  update = install + "/update";
  std::filesystem::create_directories(install);
  registry_path = (dir.path() / "registry.reg").string();
  registry = std::make_unique<posix::RegistryFile>(registry_path, codepage);
  process.install_dir = install;
  process.system_dir = install + "\\system32";
  p.registry = registry.get();
  tray = std::make_unique<frmTray>(p);
}

void AgentHarness::SetRegistry(const std::vector<std::string>& product_values,
                               const std::string& extra_sections) {
  std::string text = "Windows Registry Editor Version 5.00\n\n[";
  text += kProductKey;
  text += "]\n";
  for (const auto& line : product_values) text += line + "\n";
  text += "\n" + extra_sections;
  WriteFile(registry_path, text);
}

void AgentHarness::UseServer(const std::string& url, const std::string& vdir,
                             const std::string& install_type) {
  SetRegistry({"\"URL\"=\"" + url + "\"", "\"V_DIR\"=\"" + vdir + "\"", "\"Language\"=\"ENGLISH\"",
               "\"InstallType\"=\"" + install_type + "\""});
}

int AgentHarness::RunAgent(int max_timer_events) {
  windows.max_timer_events = max_timer_events;
  const int status = tray->Start();
  return windows.armed ? -1 : status;
}

}  // namespace mb::test
