#include "HostOptions.h"

#include <algorithm>
#include <cstdlib>

#include "NagiosRange.h"
#include "Output.h"

namespace {

// Takes the value of `option`, given either as "--option=value" or as the next argument.
bool TakeValue(const std::vector<std::string>& arguments, size_t& index, const std::string& option,
               std::string& value, std::string& error) {
  const std::string& argument = arguments[index];
  if (argument.size() > option.size() && argument[option.size()] == '=') {
    value = argument.substr(option.size() + 1);
    return true;
  }
  if (index + 1 >= arguments.size()) {
    error = option + " needs a value";
    return false;
  }
  value = arguments[++index];
  return true;
}

bool Names(const std::string& argument, const std::string& option) {
  return argument == option || argument.rfind(option + "=", 0) == 0;
}

bool ParseFormat(const std::string& value, HostOptions& options, std::string& error) {
  const std::vector<std::string> names = OutputFormatNames();
  if (std::find(names.begin(), names.end(), value) != names.end()) {
    options.format = value;
    return true;
  }
  error = "--format takes ";
  for (size_t index = 0; index < names.size(); ++index) {
    error += (index == 0 ? "" : index + 1 == names.size() ? " or " : ", ") + names[index];
  }
  error += ", not \"" + value + "\"";
  return false;
}

bool ParseVerbosity(const std::string& value, HostOptions& options, std::string& error) {
  char* end = nullptr;
  const unsigned long level = std::strtoul(value.c_str(), &end, 10);
  if (value.empty() || value[0] == '-' || *end != '\0') {
    error = "--verbosity takes a number from 0 up, not \"" + value + "\"";
    return false;
  }
  options.verbosity = level;
  return true;
}

// The options whose value is kept as it is given. An empty text names no place: those that take
// one say what they need (`place`) instead of reading it as the current folder or failing later.
struct TextOption {
  const char* name;
  std::optional<std::string> HostOptions::*member;
  const char* place;
};
const TextOption kTextOptions[] = {
    {"--check", &HostOptions::check, nullptr},
    {"--installer-root", &HostOptions::installerRoot, "a directory"},
    {"--user-installer-dir", &HostOptions::userInstallerDir, "a directory"},
    {"--plugin-dir", &HostOptions::pluginDir, "a directory"},
    {"--output", &HostOptions::output, "a file"},
    {"--root", &HostOptions::root, "a directory"},
    {"--policy", &HostOptions::policyFile, "a file"},
    {"-w", &HostOptions::warning, nullptr},
    {"-c", &HostOptions::critical, nullptr},
};

bool ParseTimeout(const std::string& value, HostOptions& options, std::string& error) {
  char* end = nullptr;
  const unsigned long seconds = std::strtoul(value.c_str(), &end, 10);
  if (value.empty() || value[0] == '-' || *end != '\0' || seconds == 0 || seconds > 86400) {
    error = "-t takes whole seconds from 1 to 86400, not \"" + value + "\"";
    return false;
  }
  options.timeout = static_cast<unsigned>(seconds);
  return true;
}

// The options that only some formats take.
bool CheckFormatOptions(const HostOptions& options, std::string& error) {
  if (options.output && options.format != "prometheus") {
    error = "--output goes with --format prometheus";
    return false;
  }
  if (options.policyFile && (options.format == "json" || options.format == "text")) {
    error = "--policy goes with --format products, prometheus or nagios";
    return false;
  }
  const bool nagios = options.format == "nagios";
  for (const auto& [name, range] : {std::pair{"-w", &options.warning}, {"-c", &options.critical}}) {
    if (*range && !nagios) {
      error = std::string(name) + " goes with --format nagios";
      return false;
    }
    if (*range && !NagiosRange().Parse(**range)) {
      error =
          std::string(name) + " takes a range such as 2, 5:, ~:3 or @1:4, not \"" + **range + "\"";
      return false;
    }
  }
  return true;
}

// Handles one option that takes a value; false when `argument` is not one of them or is wrong.
bool ParseValueOption(const std::vector<std::string>& arguments, size_t& index,
                      HostOptions& options, std::string& error) {
  const std::string& argument = arguments[index];
  std::string value;
  if (Names(argument, "--format")) {
    return TakeValue(arguments, index, "--format", value, error) &&
           ParseFormat(value, options, error);
  }
  if (Names(argument, "-t")) {
    return TakeValue(arguments, index, "-t", value, error) && ParseTimeout(value, options, error);
  }
  if (Names(argument, "--verbosity")) {
    return TakeValue(arguments, index, "--verbosity", value, error) &&
           ParseVerbosity(value, options, error);
  }
  for (const TextOption& option : kTextOptions) {
    if (Names(argument, option.name)) {
      if (!TakeValue(arguments, index, option.name, value, error)) {
        return false;
      }
      if (option.place != nullptr && value.empty()) {
        error = std::string(option.name) + " needs " + option.place + ", not an empty text";
        return false;
      }
      options.*option.member = value;
      return true;
    }
  }
  error = "unknown option " + argument;
  return false;
}

// The audit modes decide where the installer search looks, and --all-users adds products that
// only the product formats can show.
bool AuditModeOptionsFit(const HostOptions& options, std::string& error) {
  if (options.root && (options.installerRoot || options.userInstallerDir)) {
    error = "--root and --installer-root or --user-installer-dir exclude each other";
    return false;
  }
  if (options.allUsers && options.userInstallerDir) {
    error = "--all-users and --user-installer-dir exclude each other";
    return false;
  }
  if (options.allUsers && !options.list && options.format != "products" &&
      options.format != "prometheus") {
    error = "--all-users goes with --format products or --format prometheus";
    return false;
  }
  return true;
}

}  // namespace

bool ParseHostOptions(const std::vector<std::string>& arguments, HostOptions& options,
                      std::string& error) {
  bool onlyLibraries = false;
  for (size_t index = 0; index < arguments.size(); ++index) {
    const std::string& argument = arguments[index];
    if (onlyLibraries || argument.empty() || argument[0] != '-' || argument == "-") {
      options.libraries.push_back(argument);
    } else if (argument == "--") {
      onlyLibraries = true;
    } else if (argument == "--help" || argument == "-h") {
      options.help = true;
    } else if (argument == "--version") {
      options.version = true;
    } else if (argument == "--list") {
      options.list = true;
    } else if (argument == "--all-users") {
      options.allUsers = true;
    } else if (!ParseValueOption(arguments, index, options, error)) {
      return false;
    }
  }
  if (options.pluginDir && !options.libraries.empty()) {
    error = "--plugin-dir and a LIBRARY exclude each other";
    return false;
  }
  if (options.timeout != HostOptions().timeout && options.format != "nagios") {
    error = "-t goes with --format nagios";
    return false;
  }
  return AuditModeOptionsFit(options, error) && CheckFormatOptions(options, error);
}

std::string HostUsage(const std::string& defaultPlugins) {
  return "Usage: diag-host [OPTION]... [LIBRARY]...\n"
         "Loads each check plug-in LIBRARY (default: " +
         defaultPlugins +
         "),\n"
         "makes sure it speaks interface version 0.1, and runs its checks.\n"
         "\n"
         "  --list                    list the checks (name, kind, groups, description, version)\n"
         "                            instead of running them\n"
         "  --check NAME              run only the checks called NAME\n"
         "  --format json|text        print each report exactly as the check returned it (json,\n"
         "                            the default) or as an indented tree (text), where a text's\n"
         "                            later lines follow behind \"| \", other control characters\n"
         "                            show as \\t, \\r or \\xhh and a backslash as \\\\, and a\n"
         "                            \"Sources\" block says in words what each source did when\n"
         "                            the report found nothing or a source failed\n"
         "  --format products         print one line of JSON per check: its name, status, a flat\n"
         "                            list of the products found and what each source did\n"
         "  --format prometheus       print the products, their count per source, whether each\n"
         "                            source answered, the status, duration and time of the run\n"
         "                            as Prometheus metrics\n"
         "  --format cyclonedx|spdx   print the products as one software bill of materials\n"
         "                            (CycloneDX 1.6 or SPDX 2.3 JSON) with package URLs;\n"
         "                            SOURCE_DATE_EPOCH set makes it reproducible\n"
         "  --output FILE             with --format prometheus, replace FILE whole instead\n"
         "                            (for node_exporter's textfile collector)\n"
         "  --policy FILE             with --format products, prometheus or nagios, judge each\n"
         "                            product against the minimum versions of FILE, one rule\n"
         "                            a line: [installer:|dpkg:|rpm:]NAME >= VERSION\n"
         "  --format nagios           a monitoring plug-in's answer: one status line with\n"
         "                            performance data, then one line per outdated product;\n"
         "                            the exit status is then 0 OK, 1 WARNING, 2 CRITICAL or\n"
         "                            3 UNKNOWN, whatever went wrong\n"
         "  -w RANGE, -c RANGE        with nagios, WARNING or CRITICAL when the number outdated\n"
         "                            lies outside RANGE (default: -c 0, any outdated product)\n"
         "  -t SECONDS                with nagios, answer UNKNOWN after SECONDS (default 10)\n"
         "  --verbosity N             with --format text, also show the detail entries whose\n"
         "                            \"Verbosity\" is at most N (default 0: products and "
         "versions)\n"
         "  --installer-root DIR      search DIR instead of /var/corva for installer databases\n"
         "                            (sets the library's ROOT_IC_PATH; a DIR that is not a\n"
         "                            readable folder gets a warning)\n"
         "  --user-installer-dir DIR  search DIR instead of ~/corva for the user's installer\n"
         "                            databases (sets USER_IC_PATH; not searched as root)\n"
         "  --all-users               as root, with --format products or prometheus: also\n"
         "                            search every account's own installer folder as that\n"
         "                            account, 10 s at most per account and 60 s for all\n"
         "  --root DIR                audit the file system under DIR (an image, a container\n"
         "                            root, a backup): its installer tree, dpkg and rpm\n"
         "                            databases and os-release; nothing in DIR is run or written\n"
         "  --plugin-dir DIR          without LIBRARY, load every plug-in (*.so) in DIR\n"
         "  -h, --help                show this text\n"
         "  --version                 show the version\n"
         "\n"
         "Exit status, the highest that applies:\n"
         "  0   every report was received; none holds \"FAIL\" or \"ERROR\"\n"
         "  2   a report holds \"FAIL\" and none holds \"ERROR\"\n"
         "  3   a report holds \"ERROR\"\n"
         "  4   a check returned no report, threw, or (any format but json) returned one that is\n"
         "      not JSON, or (products, prometheus) one without a \"Zorvex products\" node;\n"
         "      no metrics are written then\n"
         "  5   a library cannot be loaded (or is a file cut short), lacks the check interface\n"
         "      or speaks another interface version, the plug-in directory cannot be read or\n"
         "      holds no plug-in, or --check names no check of the loaded libraries\n"
         "  64  the command line is wrong\n"
         "  65  a line of the --policy file does not parse (the line is named), or\n"
         "      --root DIR: DIR's dpkg database cannot be read\n"
         "  66  the --policy file cannot be read, or --root DIR: DIR does not exist or is not\n"
         "      a folder\n"
         "  71  --root DIR: DIR cannot be made read-only\n"
         "  73  --output FILE cannot be written (FILE is left as it was), or standard output\n"
         "      cannot be written (a full disk, a closed pipe)\n"
         "  77  --all-users not run as root\n"
         "With --all-users, an account whose search failed or timed out is named on standard\n"
         "error and in the output, and the status is at least 2.\n";
}
