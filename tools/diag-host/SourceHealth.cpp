#include "SourceHealth.h"

#include <algorithm>

#include "ProductList.h"

const char* const kSourceNames[3] = {"installer", "dpkg", "rpm"};

namespace {

enum SourceIndex { kInstaller, kDpkg, kRpm };

// The check's own texts that tell a source's state apart from a failure.
const char kNothingFound[] =
    "No installed Zorvex products are discovered. Additional information: \n";
const char kNoDatabase[] = "Cannot obtain paths to package manager databases.";
const char kNoDpkg[] = "Obtaining information about products installed by dpkg is skipped.";
const char kNoPackage[] = "Cannot obtain installed package.";
// The first line of the node's message when a source failed.
const char kFailedSources[] = "ERROR: Not every source of products could be read;";

std::string TrimLineEnds(std::string text) {
  while (!text.empty() && text.back() == '\n') {
    text.pop_back();
  }
  return text;
}

void AddLine(std::string& text, const std::string& line) {
  text += (text.empty() ? "" : "\n") + line;
}

// Empty when the databases found hold no visible product; the search's text alone when none was
// found; anything else is what failed.
void SetInstallerText(SourceHealth& installer, const std::string& text) {
  installer.message = TrimLineEnds(text);
  installer.state = installer.message.empty()          ? SourceState::kNone
                    : installer.message == kNoDatabase ? SourceState::kAbsent
                                                       : SourceState::kFailed;
}

// dpkg's text is one of its fixed answers, or what failed.
void SetDpkgText(SourceHealth& dpkg, const std::string& text) {
  dpkg.message = text;
  dpkg.state = text == kNoDpkg      ? SourceState::kAbsent
               : text == kNoPackage ? SourceState::kNone
                                    : SourceState::kFailed;
}

// The nothing-found text: its first line, then the installer's text and a line feed when it has
// one, then dpkg's, which ends without one. rpm's text never reaches it.
void ReadNothingFound(const std::string& text, std::vector<SourceHealth>& sources) {
  const std::string texts = text.substr(sizeof kNothingFound - 1);
  const size_t lastBreak = texts.rfind('\n');
  SetInstallerText(sources[kInstaller],
                   lastBreak == std::string::npos ? "" : texts.substr(0, lastBreak));
  SetDpkgText(sources[kDpkg], lastBreak == std::string::npos ? texts : texts.substr(lastBreak + 1));
  // dpkg listed nothing: it is installed, so rpm was not asked.
  sources[kRpm].state =
      sources[kDpkg].state == SourceState::kAbsent ? SourceState::kNone : SourceState::kSkipped;
}

bool Names(const std::string& command, const char* what) {
  return command.find(what) != std::string::npos;
}

// Products are shown: the command names the sources they come from.
void ReadShownProducts(const std::string& command, std::vector<SourceHealth>& sources) {
  const bool rpmFound = Names(command, "installed rpm packages");
  sources[kInstaller].state =
      Names(command, "zorvex caches") ? SourceState::kFound : SourceState::kNone;
  sources[kDpkg].state = Names(command, "installed dpkg packages") ? SourceState::kFound
                         : rpmFound                                ? SourceState::kAbsent
                                                                   : SourceState::kNone;
  sources[kRpm].state = rpmFound                                      ? SourceState::kFound
                        : sources[kDpkg].state == SourceState::kFound ? SourceState::kSkipped
                                                                      : SourceState::kNone;
}

// The sources a failure line of the node's message speaks of. A command that failed is told by
// its name ("which" is the probe for both package managers, "find" the installer's search); any
// other line is an installer database's or manifest's.
std::vector<SourceIndex> FailedSources(const std::string& line) {
  static const char kCommand[] = "The command \"";
  if (line.rfind(kCommand, 0) == 0) {
    const std::string command = line.substr(sizeof kCommand - 1);
    if (command.rfind("which ", 0) == 0) {
      return {kDpkg, kRpm};
    }
    if (command.rfind("dpkg ", 0) == 0) {
      return {kDpkg};
    }
    if (command.rfind("rpm ", 0) == 0) {
      return {kRpm};
    }
  }
  return {kInstaller};
}

// The node's message, in either form, lists what failed behind its "ERROR" line, one failure a
// line; a source named there failed, whatever else the report shows of it.
void ReadFailures(const std::string& message, std::vector<SourceHealth>& sources) {
  std::string failures[3];
  for (const std::string& line : TextLinesOf(message)) {
    if (line.empty() || line.rfind(kFailedSources, 0) == 0) {
      continue;
    }
    for (const SourceIndex index : FailedSources(line)) {
      AddLine(failures[index], line);
    }
  }
  for (size_t index = 0; index < 3; ++index) {
    if (!failures[index].empty()) {
      sources[index].state = SourceState::kFailed;
      sources[index].message = failures[index];
    }
  }
}

}  // namespace

std::vector<SourceHealth> ReadSourceHealth(const ProductNodeTexts& node,
                                           const std::vector<InstalledProduct>& products) {
  std::vector<SourceHealth> sources;
  for (const char* name : kSourceNames) {
    SourceHealth health;
    health.source = name;
    health.found = static_cast<size_t>(
        std::count_if(products.begin(), products.end(),
                      [name](const InstalledProduct& product) { return product.source == name; }));
    sources.push_back(health);
  }
  if (node.productsShown) {
    ReadShownProducts(node.command, sources);
  } else if (node.value.rfind(kNothingFound, 0) == 0) {
    ReadNothingFound(node.value, sources);
  } else {
    // The check stopped (out of memory, say) or its product map could not be read back.
    for (SourceHealth& health : sources) {
      health.message = node.value;
    }
    return sources;
  }
  ReadFailures(node.message, sources);
  return sources;
}

void AddInstallerProducts(std::vector<SourceHealth>& sources, size_t count) {
  if (count == 0 || sources.empty()) {
    return;
  }
  SourceHealth& installer = sources[kInstaller];
  installer.found += count;
  if (installer.state != SourceState::kFailed) {
    installer.state = SourceState::kFound;
  }
}

std::vector<std::string> TextLinesOf(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    const size_t end = std::min(text.find('\n', start), text.size());
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

const char* SourceStateName(SourceState state) {
  switch (state) {
    case SourceState::kFound:
      return "found";
    case SourceState::kNone:
      return "none";
    case SourceState::kAbsent:
      return "absent";
    case SourceState::kSkipped:
      return "skipped";
    case SourceState::kFailed:
      return "failed";
    case SourceState::kUnknown:
      break;
  }
  return "unknown";
}

bool SourceUp(SourceState state) {
  return state != SourceState::kFailed && state != SourceState::kUnknown;
}

json_object* SourcesObject(const std::vector<SourceHealth>& sources) {
  json_object* object = json_object_new_object();
  for (const SourceHealth& health : sources) {
    json_object* source = json_object_new_object();
    json_object_object_add(source, "state", json_object_new_string(SourceStateName(health.state)));
    json_object_object_add(source, "found",
                           json_object_new_int64(static_cast<int64_t>(health.found)));
    json_object_object_add(
        source, "message",
        json_object_new_string_len(health.message.data(), static_cast<int>(health.message.size())));
    json_object_object_add(object, health.source.c_str(), source);
  }
  return object;
}
