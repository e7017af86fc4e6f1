#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// The parts of a page address that the site-icon lookup needs: its scheme, host and port, read the
// way a URL parser reads them (generic URI syntax). Path, query and fragment are not kept.
class WebAddress {
 public:
  std::string scheme;      // as written, without the ":"; empty for a relative reference
  std::string host;        // as written (case kept); IPv6 literals keep their brackets; empty when none
  std::optional<int> port; // only when the address names one

  // Absent when the text is not a URL: white space or control characters, a malformed scheme,
  // a host with characters no host can hold, or a port that is not a number from 0 to 65535.
  static std::optional<WebAddress> parse(std::string_view text);
};

}  // namespace quorvel
