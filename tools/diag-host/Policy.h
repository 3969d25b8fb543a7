#ifndef DIAG_HOST_POLICY_H
#define DIAG_HOST_POLICY_H

#include <string>
#include <vector>

#include "ProductList.h"

// One line of a policy file: "[SOURCE:]NAME >= VERSION".
struct PolicyRule {
  std::string source;  // "installer", "dpkg", "rpm", or empty for any source
  std::string name;    // a product's name or one of its packages
  std::string minimum;
  size_t line = 0;
};

enum class Compliance { kCompliant, kOutdated, kUnmatched };

// How a product stands against the policy; `minimum` is that of the governing rule (the highest
// minimum of the rules naming the product), empty when none names it.
struct PolicyVerdict {
  const InstalledProduct* product = nullptr;
  Compliance compliance = Compliance::kUnmatched;
  std::string minimum;
};

// The minimum versions an administrator accepts. A product must meet every rule that names it;
// its full version is compared as its source orders versions (VersionCompare.h), and one that
// cannot be compared at all is outdated, since nothing shows it to be new enough.
class Policy {
 public:
  // Reads the rules of `text`; `origin` names it in errors. Returns false with
  // "ORIGIN:LINE: reason" in `error` for the first line that does not parse, names an unknown
  // source, gives a version the source cannot compare, or repeats a rule's source and name.
  bool Parse(const std::string& text, const std::string& origin, std::string& error);

  PolicyVerdict Judge(const InstalledProduct& product) const;

  // The verdicts on `products`, in their order.
  std::vector<PolicyVerdict> JudgeAll(const std::vector<InstalledProduct>& products) const;

  bool empty() const { return rules_.empty(); }

 private:
  std::vector<PolicyRule> rules_;
};

// Reads the policy file at `path`. Returns kClean, kPolicyUnreadable (with the reason) or
// kPolicyInvalid (with the line).
int LoadPolicyFile(const std::string& path, Policy& policy, std::string& error);

// The verdicts that say outdated.
std::vector<PolicyVerdict> Outdated(const std::vector<PolicyVerdict>& verdicts);

#endif  // DIAG_HOST_POLICY_H
