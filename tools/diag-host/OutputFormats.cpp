#include "Output.h"

namespace {

struct OutputFormat {
  const char* name;
  std::unique_ptr<Output> (*make)(const HostOptions& options);
};

// Every format --format takes; a new format is a module of its own and a line here.
const OutputFormat kFormats[] = {
    {"json", MakeJsonOutput},           {"text", MakeTextOutput},
    {"products", MakeProductsOutput},   {"prometheus", MakePrometheusOutput},
    {"cyclonedx", MakeCycloneDxOutput}, {"spdx", MakeSpdxOutput},
    {"nagios", MakeNagiosOutput},
};

}  // namespace

std::vector<std::string> OutputFormatNames() {
  std::vector<std::string> names;
  for (const OutputFormat& format : kFormats) {
    names.emplace_back(format.name);
  }
  return names;
}

std::unique_ptr<Output> MakeOutput(const HostOptions& options) {
  for (const OutputFormat& format : kFormats) {
    if (options.format == format.name) {
      return format.make(options);
    }
  }
  return nullptr;
}
