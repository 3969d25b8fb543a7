#ifndef DIAG_HOST_HOST_OPTIONS_H
#define DIAG_HOST_HOST_OPTIONS_H

#include <optional>
#include <string>
#include <vector>

#include "Policy.h"

// What the command line asks the host to do.
struct HostOptions {
  std::vector<std::string> libraries;    // in command-line order; empty when none is named
  std::optional<std::string> pluginDir;  // without libraries, load every plug-in found here
  bool list = false;
  bool help = false;
  bool version = false;
  std::optional<std::string> check;  // run only the checks of this name
  std::string format = "json";       // one of OutputFormatNames()
  unsigned long verbosity = 0;
  std::optional<std::string> installerRoot;
  std::optional<std::string> userInstallerDir;
  std::optional<std::string> output;      // with kPrometheus: the file to replace instead of stdout
  std::optional<std::string> policyFile;  // --policy: with products, prometheus or nagios
  Policy policy;                          // read from policyFile by the program before it runs
  // With nagios: thresholds on the number outdated (range syntax) and the run's time limit.
  std::optional<std::string> warning;
  std::optional<std::string> critical;
  unsigned timeout = 10;
  bool allUsers = false;            // also search every account's own folder, as that account
  std::optional<std::string> root;  // audit this offline root file system instead
};

// Reads the arguments after the program name. Returns false with a one-line reason in `error` for
// an unknown option, a missing or bad value (a --format that names no format), --plugin-dir beside
// a library argument, --output without --format prometheus, --policy with json or text, or -w,
// -c or -t (a range, a range, whole seconds from 1) without --format nagios.
bool ParseHostOptions(const std::vector<std::string>& arguments, HostOptions& options,
                      std::string& error);

// The --help text, with the exit statuses; `defaultPlugins` says what runs without a LIBRARY.
std::string HostUsage(const std::string& defaultPlugins);

#endif  // DIAG_HOST_HOST_OPTIONS_H
