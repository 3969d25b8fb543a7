#include <iostream>

#include "HostStatus.h"
#include "Output.h"
#include "PolicyReport.h"

namespace {

// One line of JSON per check, printed as the check ends; with a policy the line ends in
// "outdated", the products below their minimum.
class ProductsOutput : public Output {
 public:
  explicit ProductsOutput(const HostOptions& options)
      : policy_(options.policyFile ? &options.policy : nullptr) {}

  int Add(const CheckResult& result) override {
    std::string line = ProductListDocument(result.info.name, result.status, result.products);
    if (policy_ != nullptr) {
      line.insert(line.size() - 1,
                  ",\"outdated\":" + OutdatedJson(policy_->JudgeAll(result.products.products)));
    }
    std::cout << line << "\n";
    return kClean;
  }

 private:
  const Policy* policy_;  // null without --policy
};

}  // namespace

std::unique_ptr<Output> MakeProductsOutput(const HostOptions& options) {
  return std::make_unique<ProductsOutput>(options);
}
