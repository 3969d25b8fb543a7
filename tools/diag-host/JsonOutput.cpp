#include <iostream>

#include "HostStatus.h"
#include "Output.h"

namespace {

// Each report exactly as the check returned it, one after another.
class JsonOutput : public Output {
 public:
  bool RendersProducts() const override { return false; }

  int Add(const CheckResult& result) override {
    std::cout << result.report << "\n";
    return kClean;
  }
};

}  // namespace

std::unique_ptr<Output> MakeJsonOutput(const HostOptions& /*options*/) {
  return std::make_unique<JsonOutput>();
}
