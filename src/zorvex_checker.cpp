#include "zorvex_checker.h"

#include <pthread.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "AptChecker.h"
#include "BInstallerChecker.h"
#include "CommandsAhead.h"
#include "RpmChecker.h"

static_assert(sizeof(check_descriptor) == 3512, "the host reads a 3512-byte record");
static_assert(alignof(check_descriptor) == 8, "the host reads an 8-byte aligned record");
static_assert(offsetof(check_descriptor, check_name) == 0, "layout shared with the host");
static_assert(offsetof(check_descriptor, check_kind) == 500, "layout shared with the host");
static_assert(offsetof(check_descriptor, check_groups) == 1000, "layout shared with the host");
static_assert(offsetof(check_descriptor, check_description) == 1500, "layout shared with the host");
static_assert(offsetof(check_descriptor, check_parameters) == 2000, "layout shared with the host");
static_assert(offsetof(check_descriptor, check_rights) == 2500, "layout shared with the host");
static_assert(offsetof(check_descriptor, check_number) == 3000, "layout shared with the host");
static_assert(offsetof(check_descriptor, check_version) == 3004, "layout shared with the host");
static_assert(offsetof(check_descriptor, run) == 3504, "layout shared with the host");

check_descriptor app_check_struct = {
    "zorvex_app_check",
    "GetData",
    "default,sysinfo,compile,runtime,host,target",
    "This check shows version information of installed Zorvex products.",
    "{}",
    "user",
    10,
    "1.0",
    app_check,
};

char api_version[ZORVEX_TEXT_FIELD_SIZE];

const char* const kOutOfMemoryMessage = "The check ran out of memory.";
const char* const kOutOfMemoryReport =
    "{\n"
    "  \"Value\":{\n"
    "    \"APP\":{\n"
    "      \"RetVal\":\"INFO\",\n"
    "      \"Value\":{\n"
    "        \"Zorvex products\":{\n"
    "          \"RetVal\":\"INFO\",\n"
    "          \"Value\":\"The check ran out of memory.\"\n"
    "        }\n"
    "      }\n"
    "    }\n"
    "  }\n"
    "}";

namespace {

check_descriptor* checkers[] = {&app_check_struct, nullptr};

const char* const kNoProducts =
    "No installed Zorvex products are discovered. Additional information: \n";

const char* const kFailedSources =
    "ERROR: Not every source of products could be read; what they hold is missing here.\n";

// Asks one source; a source that cannot start keeps its message and makes the status an error.
template <typename Source>
SourceResult AskSource(SystemCommands& commands, int& status) {
  SourceResult result;
  if (!Source::Initialize(result.text)) {
    status = kStatusError;
    return result;
  }
  result.text.clear();
  result.found = Source::GetAppInfo(commands, result.text);
  return result;
}

// The installer source, whose failed databases cost only their own products: the map of those
// that were read is its text, and their messages are added to `failures` (and are its text when
// the map holds no product). Each database is read as soon as the search finds it.
SourceResult AskInstaller(SystemCommands& commands, int& status, std::string& failures) {
  SourceResult result;
  BInstallerChecker::Reading reading;
  if (!BInstallerChecker::Initialize(commands, reading, result.text)) {
    status = kStatusError;
    return result;
  }
  result.text.clear();
  std::string databaseFailures;
  result.found = BInstallerChecker::ReadCaches(reading, result.text, databaseFailures);
  if (!result.found) {
    result.text = databaseFailures;
  }
  failures += databaseFailures;
  return result;
}

// The product node's message of a run in which something failed; none when nothing did.
std::string FailureMessage(const std::string& failures) {
  if (failures.empty()) {
    return std::string();
  }
  std::string message = kFailedSources + failures;
  if (message.back() == '\n') {
    message.pop_back();  // each failure ends in a line feed; the message does not
  }
  return message;
}

std::string NoProductsText(const SourceResult& installer, const SourceResult& debian) {
  std::string text = kNoProducts;
  if (!installer.text.empty()) {
    text += installer.text + "\n";
  }
  text += debian.text;
  return text;
}

// The later word outranks the earlier: "ERROR" over "FAIL" over "WARNING" over the sources.
int ScanWords(const std::string& report, int status) {
  if (report.find("WARNING") != std::string::npos) {
    status = kStatusOk;
  }
  if (report.find("FAIL") != std::string::npos) {
    status = kStatusFail;
  }
  if (report.find("ERROR") != std::string::npos) {
    status = kStatusError;
  }
  return status;
}

}  // namespace

int AssembleReport(const SourceResult& installer, const SourceResult& debian,
                   const SourceResult& rpm, int status, std::string& out,
                   const std::string& failures) {
  const std::string failure = FailureMessage(failures);
  if (!failures.empty()) {
    status = kStatusError;
  }
  // The first choice whose sources found products: its first source's map, the second's spliced
  // behind it, under the command that describes them.
  const struct {
    const SourceResult* first;
    const SourceResult* second;
    const char* command;
  } choices[] = {
      {&installer, &debian, "Parse installed zorvex caches and installed dpkg packages"},
      {&installer, &rpm, "Parse installed zorvex caches and installed rpm packages"},
      {&installer, nullptr, "Parse installed zorvex caches"},
      {&debian, nullptr, "Parse installed dpkg packages"},
      {&rpm, nullptr, "Parse installed rpm packages"},
  };
  for (const auto& choice : choices) {
    if (choice.first->found && (choice.second == nullptr || choice.second->found)) {
      out = ProductsReport(choice.command, choice.first->text,
                           choice.second != nullptr ? &choice.second->text : nullptr, failure);
      return ScanWords(out, status);
    }
  }
  out = MessageReport(NoProductsText(installer, debian), failure);
  return status;
}

// Runs overlap when a host calls from several threads; the sources share state and the children's
// environment is read from the process's.
std::mutex runLock;

namespace {

// A child forked while another thread runs the check has only the forking thread: the run lock
// and the installer's list of caches are the other thread's, caught in the middle of its run.
// The child starts them afresh (what the other thread held stays unreleased there), so that a
// check in the child runs instead of waiting for a thread that does not exist.
void StartRunStateAfresh() {
  new (&runLock) std::mutex();
  new (&BInstallerChecker::CachePaths) std::vector<std::string>();
}

// Registered for as long as the library is loaded: unloading it removes the handlers.
const int kForkHandlers = pthread_atfork(nullptr, nullptr, StartRunStateAfresh);

}  // namespace

int RunCheck(CommandsAhead& commands, std::string& out) {
  int status = kStatusOk;
  std::string failures;
  const SourceResult installer = AskInstaller(commands, status, failures);
  const SourceResult debian = AskSource<AptChecker>(commands, status);
  const SourceResult rpm = AskSource<RpmChecker>(commands, status);
  failures += commands.Failures();
  return AssembleReport(installer, debian, rpm, status, out, failures);
}

int test(std::string& out) {
  const std::lock_guard<std::mutex> serialised(runLock);
  // The package manager's probe and listing run while the installer source searches and reads.
  CommandsAhead commands(kDpkgListCommand, kRpmQueryCommand);
  return RunCheck(commands, out);
}

namespace {

const char* const kUnexpectedMessage = "The check stopped on an unexpected error: ";

// A report saying why the run stopped; the fixed one when even that cannot be built.
void ReportStop(const char* reason, EntryReport& report) noexcept {
  report.status = kStatusError;
  report.fixed = kOutOfMemoryReport;
  try {
    report.built = MessageReport(std::string(kUnexpectedMessage) + reason);
    report.fixed = nullptr;
  } catch (...) {
    // Building it took memory there was not: the fixed report stays.
  }
}

}  // namespace

void RunForEntry(EntryReport& report) noexcept {
  try {
    report.status = test(report.built);
  } catch (const std::bad_alloc&) {
    std::string().swap(report.built);  // gives back what the run had built
    report.fixed = kOutOfMemoryReport;
    report.status = kStatusError;
  } catch (const std::exception& error) {
    ReportStop(error.what(), report);
  } catch (...) {
    ReportStop("an exception of unknown type", report);
  }
}

extern "C" {

char* get_api_version(void) {
  // Written once: later calls, from any thread, find it in place and write nothing.
  static std::once_flag written;
  std::call_once(written, [] { snprintf(api_version, sizeof api_version, "%s", "0.1"); });
  return api_version;
}

check_descriptor** get_check_list(void) { return checkers; }

char* app_check(void* /*unused*/) {
  EntryReport report;
  RunForEntry(report);
  const size_t size = report.Size() + 1;
  char* copy = new (std::nothrow) char[size];
  if (copy != nullptr) {
    std::memcpy(copy, report.Text(), size);
  }
  return copy;
}

}  // extern "C"
