// GetRegValue / SaveRegValueString over the registry seam, with the agent's
// own rendering of values: strings as text, REG_BINARY and REG_DWORD as
// upper-case hex from the last byte down (a trailing zero byte dropped
// first, so the DWORD 16 renders as 000010), other types left as passed.
#include <array>

#include "agent/frm_tray.h"
#include "support/text.h"

namespace mb {

namespace {

constexpr std::uint32_t kRegBufferSize = 1024;

// Closes the key on every path out.
class OpenKeyGuard {
 public:
  OpenKeyGuard(platform::Registry& reg, platform::RegKey key) : reg_(reg), key_(key) {}
  ~OpenKeyGuard() { reg_.CloseKey(key_); }
  OpenKeyGuard(const OpenKeyGuard&) = delete;
  OpenKeyGuard& operator=(const OpenKeyGuard&) = delete;

 private:
  platform::Registry& reg_;
  platform::RegKey key_;
};

std::string HexFromLastByte(const std::uint8_t* data, std::uint32_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (std::uint32_t i = size; i-- > 0;) {
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 0x0F];
  }
  return out;
}

}  // namespace

std::int32_t frmTray::GetRegValue(std::uint32_t RootKeyName, const std::string& SubKeyName,
                                  const std::string& ValueName, std::string& KeyValue) {
  if (SubKeyName.empty()) return -1;
  auto& reg = *p_.registry;
  const auto& cp = *p_.codepage;
  platform::RegKey key = 0;
  long rc = reg.OpenKey(RootKeyName, cp.ToAnsi(SubKeyName), platform::kAgentKeyAccess, &key);
  if (rc != 0) {
    KeyValue.clear();
    return static_cast<std::int32_t>(rc);
  }
  OpenKeyGuard guard(reg, key);
  const std::string name = cp.ToAnsi(ValueName);
  std::array<std::uint8_t, kRegBufferSize> data{};
  std::uint32_t type = 0;
  std::uint32_t size = kRegBufferSize;
  rc = reg.QueryValue(key, name, &type, data.data(), &size);
  if (rc != 0) {
    KeyValue.clear();
    return static_cast<std::int32_t>(rc);
  }
  std::array<std::uint8_t, kRegBufferSize> str_buf{};
  if (type == platform::kRegSz || type == platform::kRegBinary || type == platform::kRegDword) {
    std::uint8_t* target = type == platform::kRegSz ? str_buf.data() : data.data();
    rc = reg.QueryValue(key, name, &type, target, &size);
    if (rc != 0) {
      KeyValue.clear();
      return static_cast<std::int32_t>(rc);
    }
  }
  if (size == 0) {
    KeyValue.clear();
    return 0;
  }
  if (data[size - 1] == 0) --size;
  if (type == platform::kRegSz) {
    const std::string ansi(reinterpret_cast<const char*>(str_buf.data()), size);
    KeyValue = text::RemoveAll(cp.FromAnsi(ansi), std::string_view("\0", 1));
  } else if (type == platform::kRegBinary || type == platform::kRegDword) {
    KeyValue += HexFromLastByte(data.data(), size);
  }
  return 0;
}

std::int32_t frmTray::SaveRegValueString(std::uint32_t RootKeyName,
                                         const std::string& SubKeyName,
                                         const std::string& ValueName,
                                         const std::string& KeyValue) {
  auto& reg = *p_.registry;
  const auto& cp = *p_.codepage;
  platform::RegKey key = 0;
  long rc = reg.OpenKey(RootKeyName, cp.ToAnsi(SubKeyName), platform::kAgentKeyAccess, &key);
  if (rc != 0) return static_cast<std::int32_t>(rc);
  OpenKeyGuard guard(reg, key);
  const std::string ansi = cp.ToAnsi(KeyValue);
  rc = reg.SetValue(key, cp.ToAnsi(ValueName), platform::kRegSz,
                    reinterpret_cast<const std::uint8_t*>(ansi.data()),
                    static_cast<std::uint32_t>(ansi.size()));
  return static_cast<std::int32_t>(rc);
}

}  // namespace mb
