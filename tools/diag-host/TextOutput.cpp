#include <iostream>

#include "HostStatus.h"
#include "Output.h"
#include "SourceNotes.h"
#include "TextReport.h"

namespace {

// Each report as an indented tree under the check's name and library.
class TextOutput : public Output {
 public:
  explicit TextOutput(unsigned long verbosity) : verbosity_(verbosity) {}

  bool RendersProducts() const override { return false; }

  int Add(const CheckResult& result) override {
    std::string text;
    if (!RenderTextReport(result.report, verbosity_, text)) {
      Complain(result.library + ": check " + result.info.name +
               " returned a report that is not JSON:\n" + result.report);
      return kNoReport;
    }
    // The product node's texts, read apart from the tree so that a report without one still
    // renders as before.
    ProductList list;
    std::string ignored;
    if (ReadProductList(result.report, list, ignored)) {
      text += SourceNotes(list);
    }
    std::cout << result.info.name << " (" << result.library << ")\n" << text;
    return kClean;
  }

 private:
  unsigned long verbosity_;
};

}  // namespace

std::unique_ptr<Output> MakeTextOutput(const HostOptions& options) {
  return std::make_unique<TextOutput>(options.verbosity);
}
