#include "VersionCompare.h"

#include <climits>
#include <cstring>

namespace {

bool IsDigit(char character) { return character >= '0' && character <= '9'; }
bool IsLetter(char character) {
  return (character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z');
}
bool IsBlank(char character) { return std::strchr(" \t\n\v\f\r", character) != nullptr; }

int Sign(int value) { return (value > 0) - (value < 0); }

// Compares two runs of digits by value, however long: leading zeros go, then the longer is
// larger, then the first differing digit decides.
int CompareDigitRuns(const std::string& a, const std::string& b) {
  const size_t aStart = std::min(a.find_first_not_of('0'), a.size());
  const size_t bStart = std::min(b.find_first_not_of('0'), b.size());
  const size_t aLength = a.size() - aStart;
  const size_t bLength = b.size() - bStart;
  if (aLength != bLength) {
    return aLength < bLength ? -1 : 1;
  }
  return Sign(a.compare(aStart, aLength, b, bStart, bLength));
}

// The length of the run at `at` whose characters satisfy `inRun`.
template <typename Predicate>
size_t RunLength(const std::string& text, size_t at, Predicate inRun) {
  size_t end = at;
  while (end < text.size() && inRun(text[end])) {
    ++end;
  }
  return end - at;
}

// --- Debian -----------------------------------------------------------------------------------

struct DebianVersion {
  std::string epoch = "0";
  std::string upstream;
  std::string revision;  // empty when absent, which sorts as "0" does
};

// The weight of a character in a non-digit part: "~" below the end of the part, letters below
// every other character.
int DebianWeight(const std::string& text, size_t at) {
  if (at >= text.size() || IsDigit(text[at])) {
    return 0;
  }
  const char character = text[at];
  if (character == '~') {
    return -1;
  }
  const int code = static_cast<unsigned char>(character);
  return IsLetter(character) ? code : code + 256;
}

// Alternates non-digit parts, compared character by character by weight, and digit parts,
// compared by value, until one differs or both texts end.
int CompareDebianPart(const std::string& a, const std::string& b) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() || j < b.size()) {
    while ((i < a.size() && !IsDigit(a[i])) || (j < b.size() && !IsDigit(b[j]))) {
      const int difference = DebianWeight(a, i) - DebianWeight(b, j);
      if (difference != 0) {
        return Sign(difference);
      }
      i += i < a.size() ? 1 : 0;
      j += j < b.size() ? 1 : 0;
    }
    const size_t aDigits = RunLength(a, i, IsDigit);
    const size_t bDigits = RunLength(b, j, IsDigit);
    const int order = CompareDigitRuns(a.substr(i, aDigits), b.substr(j, bDigits));
    if (order != 0) {
      return order;
    }
    i += aDigits;
    j += bDigits;
  }
  return 0;
}

// Splits `text` as dpkg does; false for what dpkg refuses to compare.
bool ParseDebianVersion(const std::string& text, DebianVersion& version) {
  const size_t first = text.find_first_not_of(" \t\n\v\f\r");
  if (first == std::string::npos) {
    return false;
  }
  const size_t last = text.find_last_not_of(" \t\n\v\f\r");
  std::string rest = text.substr(first, last - first + 1);
  for (const char character : rest) {
    if (IsBlank(character)) {
      return false;
    }
  }
  const size_t colon = rest.find(':');
  if (colon != std::string::npos) {
    // The epoch is a decimal int; dpkg reads it with strtol, which takes a "+" sign.
    const std::string epoch = rest.substr(rest[0] == '+' ? 1 : 0, colon - (rest[0] == '+'));
    if (epoch.empty() || RunLength(epoch, 0, IsDigit) != epoch.size() ||
        CompareDigitRuns(epoch, std::to_string(INT_MAX)) > 0 || colon + 1 == rest.size()) {
      return false;
    }
    version.epoch = epoch;
    rest.erase(0, colon + 1);
  }
  const size_t dash = rest.rfind('-');
  if (dash != std::string::npos) {
    version.revision = rest.substr(dash + 1);
    if (version.revision.empty()) {
      return false;
    }
    rest.erase(dash);
  }
  version.upstream = rest;
  return !rest.empty();
}

// --- rpm ----------------------------------------------------------------------------------------

bool IsAlphanumeric(char character) { return IsDigit(character) || IsLetter(character); }

// rpmvercmp: skips separators, then "~" (older than anything, the end included) and "^" (newer
// than the end, older than anything else), then compares the next run of digits or of letters.
int CompareRpmPart(const std::string& a, const std::string& b) {
  if (a == b) {
    return 0;
  }
  size_t i = 0;
  size_t j = 0;
  const auto separator = [](char character) {
    return !IsAlphanumeric(character) && character != '~' && character != '^';
  };
  while (i < a.size() || j < b.size()) {
    i += RunLength(a, i, separator);
    j += RunLength(b, j, separator);
    const char x = i < a.size() ? a[i] : '\0';
    const char y = j < b.size() ? b[j] : '\0';
    if (x == '~' || y == '~') {
      if (x != y) {
        return x == '~' ? -1 : 1;
      }
    } else if (x == '^' || y == '^') {
      if (x != y) {
        return x == '\0' ? -1 : y == '\0' ? 1 : x == '^' ? -1 : 1;
      }
    } else if (x == '\0' || y == '\0') {
      break;
    } else {
      const bool numeric = IsDigit(x);
      const auto inRun = numeric ? IsDigit : IsLetter;
      const size_t aLength = RunLength(a, i, inRun);
      const size_t bLength = RunLength(b, j, inRun);
      if (bLength == 0) {  // digits against letters: the digits are newer
        return numeric ? 1 : -1;
      }
      const std::string aRun = a.substr(i, aLength);
      const std::string bRun = b.substr(j, bLength);
      const int order = numeric ? CompareDigitRuns(aRun, bRun) : Sign(aRun.compare(bRun));
      if (order != 0) {
        return order;
      }
      i += aLength;
      j += bLength;
      continue;
    }
    ++i;  // both at the same "~" or "^"
    ++j;
  }
  const bool aEnded = i >= a.size();
  const bool bEnded = j >= b.size();
  return aEnded && bEnded ? 0 : aEnded ? -1 : 1;
}

struct RpmVersion {
  std::string epoch = "0";
  std::string version;
  bool hasRelease = false;
  std::string release;
};

// An epoch is the digits before a colon, when nothing else comes first; the release follows
// the last "-" of the rest.
RpmVersion ParseRpmVersion(const std::string& text) {
  RpmVersion parsed;
  std::string rest = text;
  const size_t digits = RunLength(text, 0, IsDigit);
  if (digits < text.size() && text[digits] == ':') {
    parsed.epoch = digits == 0 ? "0" : text.substr(0, digits);
    rest.erase(0, digits + 1);
  }
  const size_t dash = rest.rfind('-');
  if (dash != std::string::npos) {
    parsed.hasRelease = true;
    parsed.release = rest.substr(dash + 1);
    rest.erase(dash);
  }
  parsed.version = rest;
  return parsed;
}

}  // namespace

std::optional<int> CompareDpkgVersions(const std::string& a, const std::string& b) {
  DebianVersion x;
  DebianVersion y;
  // dpkg takes the empty text as no version at all, earlier than every version.
  if ((!a.empty() && !ParseDebianVersion(a, x)) || (!b.empty() && !ParseDebianVersion(b, y))) {
    return std::nullopt;
  }
  if (a.empty() || b.empty()) {
    return static_cast<int>(!a.empty()) - static_cast<int>(!b.empty());
  }
  int order = CompareDigitRuns(x.epoch, y.epoch);
  if (order == 0) {
    order = CompareDebianPart(x.upstream, y.upstream);
  }
  return order != 0 ? order : CompareDebianPart(x.revision, y.revision);
}

std::optional<int> CompareRpmVersions(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) {
    return std::nullopt;
  }
  const RpmVersion x = ParseRpmVersion(a);
  const RpmVersion y = ParseRpmVersion(b);
  int order = CompareDigitRuns(x.epoch, y.epoch);
  if (order == 0) {
    order = CompareRpmPart(x.version, y.version);
  }
  if (order != 0 || x.hasRelease != y.hasRelease) {
    return order != 0 ? order : x.hasRelease ? 1 : -1;
  }
  return x.hasRelease ? CompareRpmPart(x.release, y.release) : 0;
}

std::optional<int> CompareVersions(const std::string& source, const std::string& a,
                                   const std::string& b) {
  return source == "rpm" ? CompareRpmVersions(a, b) : CompareDpkgVersions(a, b);
}

bool ComparableVersion(const std::string& source, const std::string& version) {
  const bool rpm = CompareRpmVersions(version, version).has_value();
  const bool dpkg = CompareDpkgVersions(version, version).has_value();
  return source == "rpm" ? rpm : source.empty() ? rpm && dpkg : dpkg;
}
