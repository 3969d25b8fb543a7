#ifndef DIAG_HOST_OUTPUT_H
#define DIAG_HOST_OUTPUT_H

#include <memory>
#include <string>
#include <vector>

#include "HostOptions.h"
#include "PluginLibrary.h"
#include "ProductList.h"

// One check's run as the host saw it.
struct CheckResult {
  std::string library;  // the plug-in's path
  CheckInfo info;
  std::string report;    // exactly as the check returned it
  int status = 0;        // the exit status the report's words speak for
  double startedAt = 0;  // seconds since the epoch
  double seconds = 0;
  // The report read into products, once, for the formats that render products.
  ProductList products;
};

// An output format: takes each check's run as it ends and writes what it renders. Every format
// lives in a module of its own and is named in the table of OutputFormats.cpp.
class Output {
 public:
  virtual ~Output() = default;

  // Whether Add needs CheckResult::products; the host then reads the report first and counts a
  // report without a product node as no report.
  virtual bool RendersProducts() const { return true; }

  // Takes one check's run. Returns the exit status this adds (kClean when none).
  virtual int Add(const CheckResult& result) = 0;

  // Told why a library or a check gave no product list, as diag-host complains of it.
  virtual void Missed(const std::string& /*reason*/) {}

  // Called once after the last check; `status` is the invocation's exit status so far and
  // `checks` the number of checks run. Returns the exit status this adds.
  virtual int Finish(int /*status*/, size_t /*checks*/) { return 0; }

  // The invocation's exit status, given the host's own, also when the run ended before Finish; a
  // format whose readers expect other codes (nagios) answers its own.
  virtual int ExitStatus(int status) { return status; }
};

// The names --format takes, in the order --help lists them.
std::vector<std::string> OutputFormatNames();

// The output that `options.format` names; null when no format has that name.
std::unique_ptr<Output> MakeOutput(const HostOptions& options);

// The formats, one module each.
std::unique_ptr<Output> MakeJsonOutput(const HostOptions& options);
std::unique_ptr<Output> MakeTextOutput(const HostOptions& options);
std::unique_ptr<Output> MakeProductsOutput(const HostOptions& options);
std::unique_ptr<Output> MakePrometheusOutput(const HostOptions& options);
std::unique_ptr<Output> MakeCycloneDxOutput(const HostOptions& options);
std::unique_ptr<Output> MakeSpdxOutput(const HostOptions& options);
std::unique_ptr<Output> MakeNagiosOutput(const HostOptions& options);

// Prints the nagios format's answer for a run that could not start: "ZORVEX UNKNOWN - `reason`".
// Returns the exit status that goes with it, 3.
int NagiosUnknown(const std::string& reason);

#endif  // DIAG_HOST_OUTPUT_H
