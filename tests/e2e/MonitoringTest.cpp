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

// The nagios answer without the host's note, as the superuser, that the per-user directory the
// tests name is never searched.
std::string Answer(const HostRun& run) {
  return run.out.substr(0, run.out.find("diag-host: note"));
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
  // icinga2 gives a check its own environment first and the command's "env" after it, so a
  // variable set in both is there twice; a host's getenv, and so the library, takes the first. The
  // daemon starts without the ones the fixtures set, which are then each check's own.
  std::vector<std::string> command = {
      "env",    "-u", "PATH", "-u", "DPKG_ADMINDIR", testsupport::FindTool("icinga2"),
      "daemon", "-c", config};
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

TEST_F(MonitoringTest, PromtoolAcceptsThePolicyMetricsAndTheAlertRules) {
  if (testsupport::FindTool("promtool").empty()) {
    GTEST_SKIP() << "promtool is not installed";
  }
  const std::string file = scratch_ / "zorvex.prom";
  const HostRun run = Host("--format prometheus --output '" + file + "' --policy '" +
                           scratch_.Write("outdated.policy", kOutdatedPolicy) + "'" + Sample());
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string metrics = testsupport::ReadFile(file);
  for (const char* line :
       {"zorvex_product_outdated{product=\"Zorvex Compiler\",source=\"installer\","
        "version=\"2024.2.0-95\",minimum=\"2024.10\"} 1\n",
        "zorvex_product_outdated{product=\"Zorvex Studio\",source=\"installer\","
        "version=\"2024.2.1-118\",minimum=\"2024.2.1-118\"} 0\n",
        "zorvex_product_outdated{product=\"Zorvex runtime libraries\",source=\"dpkg\","
        "version=\"2024.2.0-48\",minimum=\"2024.2.0-50\"} 1\n",
        "\nzorvex_products_outdated 2\n"}) {
    EXPECT_NE(metrics.find(line), std::string::npos) << line << "in\n" << metrics;
  }
  std::string output;
  EXPECT_EQ(testsupport::Shell("promtool check metrics < '" + file + "' 2>&1", &output), 0)
      << output;
  // Written also when nothing is outdated.
  ASSERT_EQ(Host("--format prometheus --output '" + file + "' --policy '" +
                 scratch_.Write("compliant.policy", kCompliantPolicy) + "'" + Sample())
                .status,
            0);
  EXPECT_NE(testsupport::ReadFile(file).find("\nzorvex_products_outdated 0\n"), std::string::npos);
  EXPECT_EQ(testsupport::Shell("cd '" ZORVEX_SOURCE_DIR "/examples/prometheus' && "
                               "promtool test rules zorvex-alerts-test.yml 2>&1",
                               &output),
            0)
      << output;
}

TEST_F(MonitoringTest, FacterReadsTheStructuredFact) {
  if (testsupport::FindTool("facter").empty()) {
    GTEST_SKIP() << "facter is not installed";
  }
  const std::string facts = scratch_.MakeDir("facts.d");
  testsupport::Shell("cp '" ZORVEX_SOURCE_DIR "/integrations/facter/zorvex.py' '" + facts + "'");
  const testsupport::ScopedEnv program("ZORVEX_DIAG_HOST", DIAG_HOST_PATH);
  const testsupport::ScopedEnv policy("ZORVEX_POLICY",
                                      scratch_.Write("outdated.policy", kOutdatedPolicy));
  const testsupport::ScopedEnv arguments("ZORVEX_FACT_ARGS", Sample());
  std::string output;
  ASSERT_EQ(testsupport::Shell("facter --external-dir '" + facts + "' --json zorvex", &output), 0);
  json_object* root = json_tokener_parse(output.c_str());
  ASSERT_NE(root, nullptr) << output;
  json_object* fact = nullptr;
  json_object* member = nullptr;
  ASSERT_TRUE(json_object_object_get_ex(root, "zorvex", &fact)) << output;
  ASSERT_TRUE(json_object_object_get_ex(fact, "products", &member)) << output;
  EXPECT_EQ(json_object_array_length(member), 4u);
  ASSERT_TRUE(json_object_object_get_ex(fact, "outdated", &member)) << output;
  EXPECT_STREQ(json_object_to_json_string_ext(member, JSON_C_TO_STRING_PLAIN),
               R"([{"name":"Zorvex Compiler","source":"installer","full_version":"2024.2.0-95",)"
               R"("minimum":"2024.10"},{"name":"Zorvex runtime libraries","source":"dpkg",)"
               R"("full_version":"2024.2.0-48","minimum":"2024.2.0-50"}])");
  json_object_put(root);
}

// Every fault is refused with the file and line, status 65 (66 when the file cannot be read), and
// with --format nagios as UNKNOWN.
TEST_F(MonitoringTest, PolicyFilesThatDoNotParseAreRefusedWithTheirLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"# ok\nZorvex Studio 2024.2\n", ":2: expected \"[SOURCE:]NAME >= VERSION\""},
      {"apt:corva-zorvex-cli >= 1\n", ":1: unknown source \"apt\" (installer, dpkg or rpm)"},
      {"\n\nZorvex Studio >= 1\ninstaller:Zorvex Studio >= 2\nZorvex Studio >= 3\n",
       ":5: a second rule for \"Zorvex Studio\" (first on line 3)"},
      {"dpkg:corva-zorvex-cli >= 1:\n", ":1: \"1:\" is not a version dpkg can compare"},
      {"installer: >= 1\n", ":1: the rule names no product"},
  };
  for (const auto& [text, error] : cases) {
    const std::string file = scratch_.Write("bad.policy", text);
    HostRun run = Host("--format products --policy '" + file + "'" + Sample());
    EXPECT_EQ(run.status, 65) << text;
    EXPECT_EQ(run.err, "diag-host: " + file + error + "\n");
    run = Host("--format nagios --policy '" + file + "'" + Sample());
    EXPECT_EQ(run.status, 3) << text;
    EXPECT_EQ(run.out, "ZORVEX UNKNOWN - " + file + error + "\n");
  }
  const HostRun run = Host("--format products --policy '" + (scratch_ / "absent") + "'");
  EXPECT_EQ(run.status, 66);
  EXPECT_EQ(Host("--format json --policy x").status, 64);
  EXPECT_EQ(Host("--format products -w 1").status, 64);
  EXPECT_EQ(Host("--format nagios -c 5:1" + Sample()).status, 3);
}

// Thresholds in the range syntax decide the state; the host's own status gives way to Nagios's.
TEST_F(MonitoringTest, NagiosThresholdsAndReportWords) {
  const std::string policy = " --policy '" + scratch_.Write("o.policy", kOutdatedPolicy) + "'";
  const std::tuple<const char*, int, const char*> cases[] = {
      {"", 2, "ZORVEX CRITICAL - 2 of 4 products outdated|products=4 outdated=2;;0;0\n"},
      {"-w 1 -c 3", 1, "ZORVEX WARNING - 2 of 4 products outdated|products=4 outdated=2;1;3;0\n"},
      {"-w 2", 0, "ZORVEX OK - 2 of 4 products outdated|products=4 outdated=2;2;;0\n"},
      {"-c @1:2", 2, "ZORVEX CRITICAL - 2 of 4 products outdated|products=4 outdated=2;;@1:2;0\n"},
      {"-w ~:1", 1, "ZORVEX WARNING - 2 of 4 products outdated|products=4 outdated=2;~:1;;0\n"},
  };
  for (const auto& [thresholds, state, line] : cases) {
    const HostRun run = Host(std::string("--format nagios ") + thresholds + policy + Sample());
    EXPECT_EQ(run.status, state) << thresholds;
    EXPECT_EQ(run.out.substr(0, run.out.find('\n') + 1), line) << thresholds;
  }
  // The word ERROR in a report (here in a version) leaves the inventory in doubt: UNKNOWN, unless
  // what was found is already critical.
  const TempDir tree;
  const std::string root = testsupport::WriteInstallerTree(
      tree, {{"Zorvex Studio", "zorvex.studio", "2.4 ERROR", "2.4.1-7", "D", e2e::kInstallDir}});
  const testsupport::DpkgAdminDir empty({});
  const std::string studio =
      " --policy '" + scratch_.Write("s.policy", "Zorvex Studio >= 2.5\n") + "'";
  HostRun run = Host("--format nagios --installer-root '" + root + "'");
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(Answer(run),
            "ZORVEX UNKNOWN - the report holds ERROR; 0 of 1 products outdated (no "
            "policy)|products=1 outdated=0;;0;0\n");
  run = Host("--format nagios --installer-root '" + root + "'" + studio);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(Answer(run),
            "ZORVEX CRITICAL - the report holds ERROR; 1 of 1 products outdated|"
            "products=1 outdated=1;;0;0\nZorvex Studio (installer) 2.4.1-7 < 2.5\n");
}
