#include <iostream>

#include "HostStatus.h"
#include "Output.h"

namespace {

// One line of JSON per check, printed as the check ends.
class ProductsOutput : public Output {
 public:
  int Add(const CheckResult& result) override {
    std::cout << ProductListDocument(result.info.name, result.status, result.products) << "\n";
    return kClean;
  }
};

}  // namespace

std::unique_ptr<Output> MakeProductsOutput(const HostOptions& /*options*/) {
  return std::make_unique<ProductsOutput>();
}
