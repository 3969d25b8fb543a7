// The version policy as monitoring systems consume it: the nagios format scheduled by the real
// icinga2 (state read back through its REST API on loopback), the policy metrics checked by the
// real promtool and the alert rules of examples/prometheus proved by its rule tests, and the
// facter fact read by the real facter. Policy files that do not parse fail with their line.
#include <grp.h>
#include <gtest/gtest.h>
#include <json-c/json.h>
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "Daemon.h"
#include "LoadedPlugin.h"
#include "TestSupport.h"

using e2e::HostRun;
using testsupport::TempDir;

namespace {

// Below the sample's installer compiler (2024.2.0-95) and runtime package (2024.2.0-48) both.
const char* const kCompliantPolicy =
    "# the fleet's minimums\n"
    "installer:Zorvex Compiler >= 2024.2.0-95\n"
    "\n"
    "corva-zorvex-runtime >= 2024.2.0~rc1   # tilde: before 2024.2.0\n";
// The compiler is below 2024.10 under the dpkg order (2 < 10), the runtime below its revision.
const char* const kOutdatedPolicy =
    "Zorvex Compiler >= 2024.10\n"
    "dpkg:Zorvex runtime libraries >= 2024.2.0-50\n"
    "Zorvex Studio >= 2024.2.1-118\n";

class MonitoringTest : public ::testing::Test {
 protected:
  HostRun Host(const std::string& arguments) const { return e2e::RunDiagHost(arguments, scratch_); }
  std::string Sample() const { return " --installer-root '" + sample_.InstallerRoot() + "'"; }

  e2e::SampleInstallation sample_;
  TempDir scratch_;
};

// One answer of the icinga2 REST API for a service: its state and exit status, and its output.
struct ServiceState {
  int state = -1;
  int exitStatus = -1;
  std::string output;
};

std::optional<ServiceState> QueryService(const std::string& base, const std::string& service) {
  std::string body;
  testsupport::Shell("curl -sk --max-time 5 -u test:test '" + base +
                         "/v1/objects/services/fixtures!" + service + "?attrs=last_check_result'",
                     &body);
  json_object* root = json_tokener_parse(body.c_str());
  json_object* results = nullptr;
  json_object* attrs = nullptr;
  json_object* result = nullptr;
  std::optional<ServiceState> found;
  if (root != nullptr && json_object_object_get_ex(root, "results", &results) &&
      json_object_array_length(results) == 1 &&
      json_object_object_get_ex(json_object_array_get_idx(results, 0), "attrs", &attrs) &&
      json_object_object_get_ex(attrs, "last_check_result", &result) && result != nullptr) {
    json_object* member = nullptr;
    found = ServiceState{};
    json_object_object_get_ex(result, "state", &member);
    found->state = json_object_get_int(member);
    json_object_object_get_ex(result, "exit_status", &member);
    found->exitStatus = json_object_get_int(member);
    json_object_object_get_ex(result, "output", &member);
    found->output = json_object_get_string(member);
  }
  json_object_put(root);
  return found;
}

// icinga2's configuration: an API listener on loopback, the checker, and one service per
// fixture, each running diag-host --format nagios with its own arguments and environment.
std::string IcingaConfig(int port, const std::string& fixtures) {
  return "include <itl>\n"
         "const NodeName = \"fixtures\"\n"
         "object Endpoint \"fixtures\" {}\n"
         "object Zone \"master\" { endpoints = [ \"fixtures\" ] }\n"
         "object ApiListener \"api\" { bind_host = \"127.0.0.1\"; bind_port = " +
         std::to_string(port) +
         " }\n"
         "object ApiUser \"test\" { password = \"test\"; permissions = [ \"*\" ] }\n"
         "object CheckerComponent \"checker\" {}\n"
         "object CheckCommand \"zorvex\" {\n"
         "  command = [ \"" DIAG_HOST_PATH
         "\", \"--format\", \"nagios\" ]\n"
         "  arguments = {\n"
         "    \"--policy\" = \"$zorvex_policy$\"\n"
         "    \"--installer-root\" = \"$zorvex_installer_root$\"\n"
         "    \"-t\" = \"$zorvex_timeout$\"\n"
         "    \"--user-installer-dir\" = \"$zorvex_user_dir$\"\n"
         "    \"library\" = { skip_key = true; value = \"$zorvex_library$\"; order = 9 }\n"
         "  }\n"
         "  env = { DPKG_ADMINDIR = \"$zorvex_admindir$\"; PATH = \"$zorvex_path$\" }\n"
         "}\n"
         "object Host \"fixtures\" { check_command = \"dummy\"; enable_active_checks = false }\n"
         "template Service \"zorvex\" {\n"
         "  host_name = \"fixtures\"; check_command = \"zorvex\"; max_check_attempts = 1\n"
         "  check_interval = 5s; retry_interval = 5s\n" +
         fixtures + "}\n";
}

std::string Fixture(const std::string& name, const std::string& vars) {
  return "}\nobject Service \"" + name + "\" {\n  import \"zorvex\"\n" + vars;
}

}  // namespace

TEST_F(MonitoringTest, IcingaSchedulesTheNagiosFormat) {
  if (testsupport::FindTool("icinga2").empty()) {
    GTEST_SKIP() << "icinga2 is not installed";
  }
  const TempDir icinga;
  for (const char* dir : {"data/certs", "log", "cache", "spool", "run"}) {
    icinga.MakeDir(dir);
  }
  ASSERT_EQ(testsupport::Shell("openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=fixtures "
                               "-days 2 -keyout '" +
                               (icinga / "data/certs/fixtures.key") + "' -out '" +
                               (icinga / "data/certs/fixtures.crt") + "' 2>/dev/null && cp '" +
                               (icinga / "data/certs/fixtures.crt") + "' '" +
                               (icinga / "data/certs/ca.crt") + "'"),
            0);
  // The slow package manager: a stand-in, since no real dpkg can be made to hang on purpose.
  const testsupport::ToolDir slow;
  slow.Script("dpkg", "exec sleep 8 </dev/null >/dev/null 2>&1\n");
  // An ordinary user's own installer tree is searched too; the superuser's never is.
  const std::string common =
      "  vars.zorvex_installer_root = \"" + sample_.InstallerRoot() +
      "\"\n  vars.zorvex_admindir = \"" + sample_.AdminDir() + "\"\n" +
      (geteuid() == 0 ? "" : "  vars.zorvex_user_dir = \"/.zorvex-test-absent\"\n");
  const std::string path = "  vars.zorvex_path = \"/usr/sbin:/usr/bin:/sbin:/bin\"\n";
  const std::string fixtures =
      Fixture("compliant", common + path + "  vars.zorvex_policy = \"" +
                               scratch_.Write("compliant.policy", kCompliantPolicy) + "\"\n") +
      Fixture("outdated", common + path + "  vars.zorvex_policy = \"" +
                              scratch_.Write("outdated.policy", kOutdatedPolicy) + "\"\n") +
      Fixture("failing",
              common + path + "  vars.zorvex_library = \"" NO_INTERFACE_PLUGIN_PATH "\"\n") +
      Fixture("timeout", common + "  vars.zorvex_timeout = 1\n  vars.zorvex_path = \"" +
                             slow.path() + ":/usr/bin:/bin\"\n");
  const int port = e2e::FreePort("127.0.0.1");
  const std::string config = icinga.Write("icinga2.conf", IcingaConfig(port, fixtures));
  const passwd* account = getpwuid(geteuid());
  ASSERT_NE(account, nullptr);
  std::vector<std::string> command = {"icinga2", "daemon", "-c", config};
  const std::pair<const char*, std::string> constants[] = {
      {"DataDir", "data"},
      {"LogDir", "log"},
      {"CacheDir", "cache"},
      {"SpoolDir", "spool"},
      {"InitRunDir", "run"},
      {"PidPath", "run/icinga2.pid"},
      {"VarsPath", "cache/icinga2.vars"},
      {"ObjectsPath", "cache/icinga2.debug"},
      {"StatePath", "data/icinga2.state"},
      {"ModAttrPath", "data/modified-attributes.conf"}};
  for (const auto& [name, relative] : constants) {
    command.push_back(std::string("-D") + name + "=" + (icinga / relative));
  }
  command.push_back(std::string("-DRunAsUser=") + account->pw_name);
  const group* primary = getgrgid(getegid());
  ASSERT_NE(primary, nullptr);
  command.push_back(std::string("-DRunAsGroup=") + primary->gr_name);
  const e2e::Daemon daemon(command, icinga / "icinga2.log");
  ASSERT_TRUE(e2e::WaitForListener("127.0.0.1", port, 30))
      << testsupport::ReadFile(icinga / "icinga2.log");

  const std::string base = "https://127.0.0.1:" + std::to_string(port);
  // Service, state, and the start of its answer (icinga2 takes the performance data apart).
  const std::tuple<const char*, int, const char*> expected[] = {
      {"compliant", 0, "ZORVEX OK - 0 of 4 products outdated"},
      {"outdated", 2,
       "ZORVEX CRITICAL - 2 of 4 products outdated\n"
       "Zorvex Compiler (installer) 2024.2.0-95 < 2024.10\n"
       "Zorvex runtime libraries (dpkg) 2024.2.0-48 < 2024.2.0-50"},
      {"failing", 3,
       "ZORVEX UNKNOWN - a plug-in could not be loaded or run\ndiag-host: " NO_INTERFACE_PLUGIN_PATH
       " is not a check plug-in"},
      {"timeout", 3, "ZORVEX UNKNOWN - the check did not finish within 1 seconds"},
  };
  for (const auto& [service, state, output] : expected) {
    std::optional<ServiceState> answer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!(answer = QueryService(base, service)) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    ASSERT_TRUE(answer) << service << " never checked\n"
                        << testsupport::ReadFile(icinga / "icinga2.log");
    EXPECT_EQ(answer->state, state) << service << ": " << answer->output;
    EXPECT_EQ(answer->exitStatus, state) << service;
    EXPECT_EQ(answer->output.rfind(output, 0), 0u) << service << ": " << answer->output;
  }
}
