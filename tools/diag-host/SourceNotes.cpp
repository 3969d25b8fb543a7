#include "SourceNotes.h"

#include "TextReport.h"

namespace {

struct Meaning {
  const char* text;  // the start of one of the check's texts
  const char* meaning;
};

const Meaning kMeanings[] = {
    {"Cannot obtain paths to package manager databases.",
     "no installer database (packagemanager.db) was found under the installer root (/var/corva, "
     "or --installer-root) nor in the user's installer folder (~/corva, or --user-installer-dir; "
     "not searched for the superuser), or a folder there cannot be read. Normal on a machine "
     "without the installer: zorvex_app_check then exits 3, since its installer source could not "
     "start, while diag-host reads the report's words (FAIL, ERROR) and exits 0"},
    {"Cannot get user name.",
     "the account running the check has no home directory, so its installer folder was not "
     "searched"},
    {"Cannot open Zivaro Zizovirad database ",
     "an installer database exists but cannot be opened: damaged, not an SQLite file, or not "
     "readable by this account (root-only databases need the check run as root); its products "
     "are missing"},
    {"Error while compiling SQL statement ",
     "an installer database cannot be read: not an SQLite file, damaged, or without the tables "
     "INSTALL_DIR and COMPONENT; its products are missing"},
    {"INSTALL_DIR is empty. Cannot obtain path to Zorvex package.",
     "an installer database records no installation folder; its products are missing"},
    {"Cannot obtain human readable product names: ",
     "the manifest.json of a component is missing or unreadable in the packagescache folder "
     "beside its installer database; that database's products are missing"},
    {"Reading of Zivaro Zizovirad database ",
     "an installer database needs more than the check allows (too much work, or a value over "
     "1 MiB); its products are missing"},
    {"Obtaining information about products installed by dpkg is skipped.",
     "dpkg is not installed here, so no Debian packages were looked for; rpm was asked instead"},
    {"Cannot obtain installed package.",
     "dpkg lists no installed package of the Zorvex family (the same text stands for a listing "
     "that failed or ran past 60 seconds)"},
    {"Cannot tell whether dpkg or rpm is installed.",
     "the probe for the package manager failed (see the line below), so neither dpkg's nor "
     "rpm's packages were read"},
    {"The command \"",
     "a command of the check could not start, was ended (deadline, output cap, signal) or lost "
     "its output or status; what it would have found is missing"},
    {"Can't convert json object to string", "the source's product list could not be written out"},
    {"The check ran out of memory.", "the check stopped before the sources answered"},
    {"The check stopped on an unexpected error: ", "the check stopped before the sources answered"},
};

std::string Products(size_t count) {
  return std::to_string(count) + (count == 1 ? " product" : " products");
}

std::string StateWords(const SourceHealth& health) {
  switch (health.state) {
    case SourceState::kFound:
      return "found " + Products(health.found);
    case SourceState::kNone:
      return "found nothing";
    case SourceState::kAbsent:
      return "not present";
    case SourceState::kSkipped:
      return "not asked: dpkg was found";
    case SourceState::kFailed:
      return health.found == 0 ? "failed" : "failed; " + Products(health.found) + " still read";
    case SourceState::kUnknown:
      break;
  }
  return "unknown";
}

std::string Meaning(const std::string& line) {
  for (const auto& meaning : kMeanings) {
    if (line.rfind(meaning.text, 0) == 0) {
      return std::string(" means ") + meaning.meaning;
    }
  }
  return std::string();
}

// Each line of a source's text, quoted, with its meaning.
std::string TextNotes(const std::string& text) {
  std::string notes;
  for (const std::string& line : TextLinesOf(text)) {
    if (!line.empty()) {
      notes += "      \"" + EscapeText(line) + "\"" + Meaning(line) + "\n";
    }
  }
  return notes;
}

}  // namespace

std::string SourceNotes(const ProductList& list) {
  if (list.message.empty()) {
    return std::string();
  }
  std::string notes = "  Sources\n";
  const std::string* shown = nullptr;  // a text that all sources share is shown once
  for (const SourceHealth& health : list.sources) {
    notes += "    " + health.source + ": " + StateWords(health) + "\n";
    if (shown == nullptr || *shown != health.message) {
      notes += TextNotes(health.message);
    }
    shown = &health.message;
  }
  return notes;
}
