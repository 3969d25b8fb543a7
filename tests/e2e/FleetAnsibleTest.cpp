// The fleet playbook run by Debian's ansible-core over real SSH (scripts/run-fleet-demo.sh) against
// four hosts, 127.0.0.2 to 127.0.0.5: each an sshd in a mount namespace of its own whose /var is a
// fixture of its own (an installer tree in /var/corva, a dpkg database in /var/lib/dpkg). Every
// host runs the build tree's diag-host, except 127.0.0.4, where its folder is hidden, and searches
// every account's own folder too (each host's /home is a fixture folder; on 127.0.0.3 the test
// account has installed a product of its own), with a policy that 127.0.0.3's product falls short
// of and one bill of materials per host; then a run limited to two hosts whose check is missing.
#include <gtest/gtest.h>
#include <json-c/json.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "LoadedPlugin.h"
#include "TestSupport.h"

using testsupport::TempDir;

namespace {

void CopyTree(const std::string& from, const std::string& to) {
  std::filesystem::create_directories(to);
  std::filesystem::copy(from, to, std::filesystem::copy_options::recursive);
}

class FleetAnsibleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0 || testsupport::Shell("unshare --mount true 2>/dev/null") != 0) {
      GTEST_SKIP() << "the hosts need mount namespaces of their own: root, allowed to make them";
    }
  }

  // A host's /var: the installer tree `corva` (none when empty) and the dpkg database `dpkg`,
  // given to the host at `address`, with `hidden` covered by an empty folder there; its /home
  // the folder `home` beside them.
  void AddHost(const std::string& address, const std::string& corva, const std::string& dpkg,
               const std::string& hidden = "") {
    const std::string var = work_.MakeDir(address);
    if (corva.empty()) {
      work_.MakeDir(address + "/corva");
    } else {
      CopyTree(corva, var + "/corva");
    }
    CopyTree(dpkg, var + "/lib/dpkg");
    work_.MakeDir(address + "/home");
    hosts_ += " '" + address + "=" + var + (hidden.empty() ? "" : "=" + hidden) + "'";
  }

  // Runs the playbook through the demo script, which starts and stops the hosts' sshd.
  int RunPlaybook(std::string& output, const std::string& options = "") const {
    return testsupport::Shell(std::string(ZORVEX_SOURCE_DIR) + "/scripts/run-fleet-demo.sh " +
                                  options + " --out '" + (work_ / "out") + "'" + hosts_ + " 2>&1",
                              &output);
  }

  // The test account's own installer folder on the host at `address`, holding one product.
  void AddAccountInstall(const std::string& address) const {
    const std::string home = work_ / (address + "/home/" + kAccount);
    testsupport::InstallerCache(home + "/corva/zorvex/", {{"account.tool", "1"}});
    ASSERT_EQ(testsupport::Shell(std::string("chown -R ") + kAccount + ": '" + home + "'"), 0);
  }

  static constexpr const char* kAccount = "zorvex-test";  // made by the test_user fixture
  TempDir work_;
  std::string hosts_;
};

// The JSON inventory's rows, host and state, and each row's text.
struct Inventory {
  std::vector<std::string> states;  // "host state"
  std::vector<std::string> rows;    // each row as JSON text
};

Inventory ReadInventory(const std::string& text) {
  Inventory inventory;
  json_object* rows = json_tokener_parse(text.c_str());
  for (size_t i = 0;
       json_object_is_type(rows, json_type_array) && i < json_object_array_length(rows); ++i) {
    json_object* row = json_object_array_get_idx(rows, i);
    inventory.states.push_back(
        std::string(json_object_get_string(json_object_object_get(row, "host"))) + " " +
        json_object_get_string(json_object_object_get(row, "state")));
    inventory.rows.push_back(json_object_to_json_string(row));
  }
  json_object_put(rows);
  return inventory;
}

// A description that a spreadsheet would run, spread over lines, with a word that makes the
// host read status 3 from the report.
constexpr const char* kHostileDescription = "=HYPERLINK(\"x\")\tERROR\nsecond line";

}  // namespace

TEST_F(FleetAnsibleTest, InventoryListsEachHostAndKeepsTheRowsOfHostsNotInARun) {
  const e2e::SampleInstallation sample;
  AddHost("127.0.0.2", sample.InstallerRoot(), sample.AdminDir());
  const TempDir tree;
  const std::string corva =
      testsupport::WriteInstallerTree(tree, {{"Zorvex Profiler", "zorvex.profiler", "3.1",
                                              "3.1.0-4", kHostileDescription, e2e::kInstallDir}});
  const testsupport::DpkgAdminDir other({{"hello", "2.10-3", "amd64", "example of another"}});
  AddHost("127.0.0.3", corva, other.path());
  AddAccountInstall("127.0.0.3");
  AddHost("127.0.0.4", "", other.path(), std::filesystem::path(DIAG_HOST_PATH).parent_path());
  AddHost("127.0.0.5", "", other.path());

  const std::string policy =
      work_.Write("policy", "# the fleet's minimum\nZorvex Profiler >= 3.2\n");

  std::string output;
  // 2: a host failed, the others completed; 127.0.0.3 fails for its outdated product.
  EXPECT_EQ(RunPlaybook(output, "-e zorvex_all_users=true -e zorvex_policy=" + policy +
                                    " -e fail_on_outdated=true -e sbom=true --diag-host '" +
                                    std::string(DIAG_HOST_PATH) + "'"),
            2)
      << output;
  for (const char* failed : {"127.0.0.3", "127.0.0.4"}) {
    EXPECT_NE(output.find(std::string(failed) +
                          "                  : ok=1    changed=0    unreachable=0    failed=1"),
              std::string::npos)
        << output;
  }
  EXPECT_NE(output.find("outdated Zorvex products (below the policy's minimum): Zorvex Profiler "
                        "(installer) 3.1.0-4 < 3.2"),
            std::string::npos)
      << output;
  const Inventory first = ReadInventory(testsupport::ReadFile(work_ / "out/fleet.json"));
  EXPECT_EQ(first.states,
            (std::vector<std::string>{"127.0.0.2 ok", "127.0.0.2 ok", "127.0.0.2 ok",
                                      "127.0.0.2 ok", "127.0.0.3 degraded", "127.0.0.3 degraded",
                                      "127.0.0.4 failed", "127.0.0.5 ok"}));
  // The account's product, with its account; the system's carry none.
  ASSERT_EQ(first.rows.size(), 8u);
  EXPECT_NE(first.rows[5].find(R"("product_id": "account.tool")"), std::string::npos)
      << first.rows[5];
  EXPECT_NE(first.rows[5].find(std::string(R"("user": ")") + kAccount + "\""), std::string::npos)
      << first.rows[5];
  EXPECT_NE(first.rows[4].find(R"("user": "")"), std::string::npos) << first.rows[4];
  EXPECT_NE(first.rows[4].find(R"("outdated": "3.2")"), std::string::npos) << first.rows[4];
  EXPECT_NE(first.rows[0].find(R"("outdated": "")"), std::string::npos) << first.rows[0];
  // Each host whose check ran has its bill of materials; 127.0.0.4, without diag-host, none.
  json_object* sbom = json_object_from_file((work_ / "out/sbom/127.0.0.2.cdx.json").c_str());
  EXPECT_STREQ(json_object_get_string(json_object_object_get(sbom, "bomFormat")), "CycloneDX");
  json_object_put(sbom);
  EXPECT_TRUE(std::filesystem::exists(work_ / "out/sbom/127.0.0.5.cdx.json"));
  EXPECT_FALSE(std::filesystem::exists(work_ / "out/sbom/127.0.0.4.cdx.json"));
  // One physical line per row, the description escaped and kept from running as a formula.
  const std::string csv = testsupport::ReadFile(work_ / "out/fleet.csv");
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 9) << csv;
  EXPECT_NE(csv.find(R"(,"'=HYPERLINK(""x"")\tERROR\nsecond line",)"), std::string::npos) << csv;

  // Only two hosts, both failing now: all of the run failed, the inventory is still written,
  // with their rows replaced and the other hosts' as they were.
  EXPECT_EQ(RunPlaybook(output, "--diag-host /nonexistent/diag-host --limit 127.0.0.2,127.0.0.5"),
            2)
      << output;
  const Inventory second = ReadInventory(testsupport::ReadFile(work_ / "out/fleet.json"));
  EXPECT_EQ(second.states, (std::vector<std::string>{"127.0.0.2 failed", "127.0.0.3 degraded",
                                                     "127.0.0.3 degraded", "127.0.0.4 failed",
                                                     "127.0.0.5 failed"}));
  ASSERT_EQ(second.rows.size(), 5u);
  EXPECT_EQ(second.rows[1], first.rows[4]);
  EXPECT_EQ(second.rows[2], first.rows[5]);
  EXPECT_EQ(second.rows[3], first.rows[6]);
  EXPECT_NE(second.rows[0].find(R"(check failed: \/nonexistent\/diag-host is not installed)"),
            std::string::npos)
      << second.rows[0];
}
