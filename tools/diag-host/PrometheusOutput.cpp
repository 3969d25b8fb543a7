#include <filesystem>
#include <iostream>

#include "HostStatus.h"
#include "Output.h"
#include "PolicyReport.h"
#include "PrometheusText.h"
#include "WholeFile.h"

namespace {

// The metrics of every check run, written once all have run: to standard output, or replacing
// the --output file whole.
class PrometheusOutput : public Output {
 public:
  explicit PrometheusOutput(const HostOptions& options)
      : file_(options.output), policy_(options.policyFile ? &options.policy : nullptr) {}

  int Add(const CheckResult& result) override {
    metrics_.Add(result.products, result.status, result.seconds, result.startedAt);
    products_.insert(products_.end(), result.products.products.begin(),
                     result.products.products.end());
    return kClean;
  }

  // Metrics that miss a check would pass for a complete inventory; the file stays as it was and
  // its last-run time goes stale instead.
  int Finish(int status, size_t checks) override {
    if (status >= kNoReport || checks == 0) {
      Complain("no metrics written: not every check gave a product list");
      return kClean;
    }
    const std::string text =
        metrics_.Text() + (policy_ ? PolicyMetricsText(policy_->JudgeAll(products_)) : "");
    std::string error;
    if (!file_) {
      std::cout << text;
    } else if (!WriteWholeFile(*file_, text, error)) {
      Complain(MissingFolder(*file_).value_or(error));
      return kCannotWrite;
    }
    return kClean;
  }

  // The collector's folder is made by whoever installs the collector; saying so beats "No such
  // file or directory" about a temporary name.
  static std::optional<std::string> MissingFolder(const std::string& file) {
    const std::filesystem::path folder =
        std::filesystem::absolute(std::filesystem::path(file)).parent_path();
    std::error_code failure;
    if (std::filesystem::status(folder, failure).type() != std::filesystem::file_type::not_found) {
      return std::nullopt;
    }
    return "cannot write " + file + ": the folder " + folder.string() +
           " does not exist; node_exporter's package creates its textfile folder "
           "(/var/lib/prometheus/node-exporter on Debian), any other folder must be created "
           "first (mkdir -p)";
  }

 private:
  std::optional<std::string> file_;
  const Policy* policy_;  // null without --policy
  PrometheusMetrics metrics_;
  std::vector<InstalledProduct> products_;
};

}  // namespace

std::unique_ptr<Output> MakePrometheusOutput(const HostOptions& options) {
  return std::make_unique<PrometheusOutput>(options);
}
