#include <cstddef>

#include "app/core/core.h"
#include "client/panel.h"

namespace client {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Decimal 1-65535, digits only.
bool ParsePort(std::string_view text, int* port) {
  uint32_t value = 0;
  if (text.size() > 5 || !core::ParseNumber(text, &value)) return false;
  if (value < 1 || value > 65535) return false;
  *port = static_cast<int>(value);
  return true;
}

int Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return -1;
}

}  // namespace

int ParseHostAndPort(std::string_view text, HostAddress* address, std::string* error) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);

  HostAddress result;
  std::string_view port_text;
  bool has_port = false;
  if (!text.empty() && text.front() == '[') {
    // "[name]" or "[name]:port".
    size_t close = text.find(']');
    if (close == std::string_view::npos)
      return Fail(error, core::FormatString("Bad host \"%.*s\": missing ']'", static_cast<int>(text.size()),
                                            text.data()));
    result.host = std::string(text.substr(1, close - 1));
    std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':')
        return Fail(error, core::FormatString("Bad host \"%.*s\"", static_cast<int>(text.size()), text.data()));
      port_text = rest.substr(1);
      has_port = true;
    }
  } else {
    size_t colon = text.find(':');
    if (colon != std::string_view::npos && text.find(':', colon + 1) == std::string_view::npos) {
      result.host = std::string(text.substr(0, colon));
      port_text = text.substr(colon + 1);
      has_port = true;
    } else {
      // No colon, or several (an address that is not host:port): all host.
      result.host = std::string(text);
    }
  }
  if (has_port && !ParsePort(port_text, &result.port))
    return Fail(error, core::FormatString("Bad port \"%.*s\": use host:port with a port from 1 to 65535",
                                          static_cast<int>(port_text.size()), port_text.data()));
  *address = std::move(result);
  return 0;
}

}  // namespace client
