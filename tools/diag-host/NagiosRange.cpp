#include "NagiosRange.h"

#include <cmath>
#include <cstdlib>

namespace {

// A whole decimal number, as strtod reads it, with nothing after it.
bool ParseNumber(const std::string& text, double& number) {
  if (text.empty()) {
    return false;
  }
  char* end = nullptr;
  number = std::strtod(text.c_str(), &end);
  return *end == '\0' && std::isfinite(number) &&
         text.find_first_of(" \t\nxXpPnN") == std::string::npos;
}

}  // namespace

bool NagiosRange::Parse(const std::string& text) {
  text_ = text;
  std::string rest = text;
  inside_ = !rest.empty() && rest[0] == '@';
  if (inside_) {
    rest.erase(0, 1);
  }
  const size_t colon = rest.find(':');
  std::string low = colon == std::string::npos ? "" : rest.substr(0, colon);
  const std::string high = colon == std::string::npos ? rest : rest.substr(colon + 1);
  hasLow_ = low != "~";
  low_ = 0;
  if (hasLow_ && !low.empty() && !ParseNumber(low, low_)) {
    return false;
  }
  hasHigh_ = !high.empty();
  if (hasHigh_ && !ParseNumber(high, high_)) {
    return false;
  }
  if (colon == std::string::npos && !hasHigh_) {
    return false;  // "" or "@": no bound at all
  }
  return !(hasLow_ && hasHigh_ && low_ > high_);
}

bool NagiosRange::Alerts(double value) const {
  const bool within = (!hasLow_ || value >= low_) && (!hasHigh_ || value <= high_);
  return inside_ ? within : !within;
}
