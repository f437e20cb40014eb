#include "server/observe/signature_expiry.h"

#include "trust/timestamp.h"

namespace mb::server {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::string_view kSection = "\r\n[SIGNATURE]\r\n";
constexpr std::string_view kExpires = "\r\nEXPIRES=";

}  // namespace

std::optional<std::int64_t> SignatureExpiresAt(const std::string& manifest) {
  const std::size_t section = manifest.rfind(kSection);
  if (section == std::string::npos) return std::nullopt;
  const std::size_t at = manifest.find(kExpires, section + kSection.size() - 2);
  if (at == std::string::npos) return std::nullopt;
  const std::size_t start = at + kExpires.size();
  const std::size_t end = manifest.find('\r', start);
  return trust::ParseUtcTime(std::string_view(manifest).substr(start, end - start));
}

std::vector<SignatureExpiry> SignatureExpiries(const ReleaseSnapshot& snapshot) {
  std::vector<SignatureExpiry> expiries;
  for (const auto& [key, c] : snapshot.Components()) {
    if (c.manifest.status != 200) continue;
    if (std::optional<std::int64_t> at = SignatureExpiresAt(c.manifest.body))
      expiries.push_back({key, *at});
  }
  return expiries;
}

std::optional<std::string> ExpiryWarning(const SignatureExpiry& expiry, std::int64_t now,
                                         int warning_days) {
  const std::int64_t left = expiry.expires - now;
  if (left <= 0 || left > warning_days * kSecondsPerDay) return std::nullopt;
  const std::int64_t days = left / kSecondsPerDay;
  const std::string when = days == 0
                               ? "in less than a day"
                               : "in " + std::to_string(days) + (days == 1 ? " day" : " days");
  return expiry.key + ": the signature expires " + when + " (" +
         trust::FormatUtcTime(expiry.expires) +
         "): agents with trusted keys refuse the release from then on; sign it again with a "
         "later --expires and publish the new signature.ini";
}

}  // namespace mb::server
