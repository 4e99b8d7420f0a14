#pragma once
// Settings of the user interface that are not the driver's own.

#include <cstdlib>
#include <string>

namespace quillbox {

// Web site of the module's vendor, opened by a click on the logo of the General page.
// QUILLBOX_VENDOR_URL overrides it (for an installation that mirrors the vendor's site).
constexpr const char* kVendorName = "L-Card";
constexpr const char* kDefaultVendorUrl = "https://www.l-card.example/";

inline std::string VendorWebAddress() {
  const char* env = std::getenv("QUILLBOX_VENDOR_URL");
  return env != nullptr && *env != '\0' ? std::string(env) : std::string(kDefaultVendorUrl);
}

}  // namespace quillbox
