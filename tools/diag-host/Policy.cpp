#include "Policy.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "HostStatus.h"
#include "VersionCompare.h"

namespace {

const char* const kBlanks = " \t\r";
const char* const kSources[] = {"installer", "dpkg", "rpm"};

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string::npos) {
    return "";
  }
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool IsSource(const std::string& word) {
  for (const char* source : kSources) {
    if (word == source) {
      return true;
    }
  }
  return false;
}

// A single word of letters before the first colon is a source; anything else there (blanks,
// digits, dashes) is part of a name such as "libfoo:amd64".
bool LooksLikeSource(const std::string& word) {
  if (word.empty()) {
    return false;
  }
  for (const char character : word) {
    if (!((character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z'))) {
      return false;
    }
  }
  return true;
}

// Reads one rule from a line stripped of its comment; false with the reason in `error`.
bool ParseRule(const std::string& text, PolicyRule& rule, std::string& error) {
  const size_t split = text.rfind(" >= ");
  if (split == std::string::npos) {
    error = "expected \"[SOURCE:]NAME >= VERSION\"";
    return false;
  }
  std::string name = Trim(text.substr(0, split));
  rule.minimum = Trim(text.substr(split + 4));
  const size_t colon = name.find(':');
  if (colon != std::string::npos && LooksLikeSource(name.substr(0, colon))) {
    rule.source = name.substr(0, colon);
    if (!IsSource(rule.source)) {
      error = "unknown source \"" + rule.source + "\" (installer, dpkg or rpm)";
      return false;
    }
    name = Trim(name.substr(colon + 1));
  }
  rule.name = name;
  if (rule.name.empty()) {
    error = "the rule names no product";
    return false;
  }
  // Versions are printed into metrics and JSON: printable ASCII only.
  const bool printable = std::all_of(rule.minimum.begin(), rule.minimum.end(), [](char character) {
    return character > ' ' && character < 127;
  });
  if (rule.minimum.empty() || !printable || !ComparableVersion(rule.source, rule.minimum)) {
    error = "\"" + rule.minimum + "\" is not a version " +
            (rule.source.empty() ? std::string("both dpkg and rpm") : rule.source) + " can compare";
    return false;
  }
  return true;
}

bool Names(const PolicyRule& rule, const InstalledProduct& product) {
  if (!rule.source.empty() && rule.source != product.source) {
    return false;
  }
  if (rule.name == product.name) {
    return true;
  }
  for (const std::string& package : product.packages) {
    if (rule.name == package) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool Policy::Parse(const std::string& text, const std::string& origin, std::string& error) {
  std::istringstream lines(text);
  std::string line;
  std::vector<PolicyRule> rules;
  for (size_t number = 1; std::getline(lines, line); ++number) {
    const std::string content = Trim(line.substr(0, line.find('#')));
    if (content.empty()) {
      continue;
    }
    PolicyRule rule;
    rule.line = number;
    std::string reason;
    if (!ParseRule(content, rule, reason)) {
      error = origin + ":" + std::to_string(number) + ": " + reason;
      return false;
    }
    // Two minimums for one product would leave the reader guessing which holds.
    for (const PolicyRule& earlier : rules) {
      if (earlier.source == rule.source && earlier.name == rule.name) {
        error = origin + ":" + std::to_string(number) + ": a second rule for \"" +
                (rule.source.empty() ? "" : rule.source + ":") + rule.name + "\" (first on line " +
                std::to_string(earlier.line) + ")";
        return false;
      }
    }
    rules.push_back(rule);
  }
  rules_ = std::move(rules);
  return true;
}

PolicyVerdict Policy::Judge(const InstalledProduct& product) const {
  PolicyVerdict verdict;
  verdict.product = &product;
  const PolicyRule* governing = nullptr;
  for (const PolicyRule& rule : rules_) {
    if (Names(rule, product) &&
        (governing == nullptr ||
         CompareVersions(product.source, rule.minimum, governing->minimum).value_or(0) > 0)) {
      governing = &rule;
    }
  }
  if (governing == nullptr) {
    return verdict;
  }
  verdict.minimum = governing->minimum;
  const std::optional<int> order =
      CompareVersions(product.source, product.fullVersion, governing->minimum);
  verdict.compliance = order && *order >= 0 ? Compliance::kCompliant : Compliance::kOutdated;
  return verdict;
}

std::vector<PolicyVerdict> Policy::JudgeAll(const std::vector<InstalledProduct>& products) const {
  std::vector<PolicyVerdict> verdicts;
  verdicts.reserve(products.size());
  for (const InstalledProduct& product : products) {
    verdicts.push_back(Judge(product));
  }
  return verdicts;
}

int LoadPolicyFile(const std::string& path, Policy& policy, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  std::error_code ignored;
  if (!file || std::filesystem::is_directory(path, ignored)) {
    error = "cannot read the policy " + path + ": " +
            (file ? std::strerror(EISDIR) : std::strerror(errno));
    return kPolicyUnreadable;
  }
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return policy.Parse(text, path, error) ? kClean : kPolicyInvalid;
}

std::vector<PolicyVerdict> Outdated(const std::vector<PolicyVerdict>& verdicts) {
  std::vector<PolicyVerdict> outdated;
  for (const PolicyVerdict& verdict : verdicts) {
    if (verdict.compliance == Compliance::kOutdated) {
      outdated.push_back(verdict);
    }
  }
  return outdated;
}
