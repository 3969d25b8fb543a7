// The fleet playbook run by Debian's ansible-core over real SSH (scripts/run-fleet-demo.sh) against
// four hosts, 127.0.0.2 to 127.0.0.5: each an sshd in a mount namespace of its own whose /var is a
// fixture of its own (an installer tree in /var/corva, a dpkg database in /var/lib/dpkg). Every
// host runs the build tree's diag-host, except 127.0.0.4, where its folder is hidden.
#include <gtest/gtest.h>
#include <json-c/json.h>
#include <unistd.h>

#include <filesystem>

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
  // given to the host at `address`, with `hidden` covered by an empty folder there.
  void AddHost(const std::string& address, const std::string& corva, const std::string& dpkg,
               const std::string& hidden = "") {
    const std::string var = work_.MakeDir(address);
    if (corva.empty()) {
      work_.MakeDir(address + "/corva");
    } else {
      CopyTree(corva, var + "/corva");
    }
    CopyTree(dpkg, var + "/lib/dpkg");
    hosts_ += " '" + address + "=" + var + (hidden.empty() ? "" : "=" + hidden) + "'";
  }

  // Runs the playbook through the demo script, which starts and stops the hosts' sshd.
  int RunPlaybook(std::string& output) const {
    return testsupport::Shell(std::string(ZORVEX_SOURCE_DIR) +
                                  "/scripts/run-fleet-demo.sh --diag-host '" + DIAG_HOST_PATH +
                                  "' --out '" + (work_ / "out") + "'" + hosts_ + " 2>&1",
                              &output);
  }

  TempDir work_;
  std::string hosts_;
};

std::string ExpectedCsv() {
  return std::string(
             "host,state,status,name,source,version,full_version,path,product_id,description,"
             "packages,architecture,message\n"
             "127.0.0.2,ok,0,Zorvex Compiler,installer,2024.2,2024.2.0-95,/opt/corva/zorvex/"
             "2024.2,zorvex.compiler,Optimizing C and C++ compilers,,,\n"
             "127.0.0.2,ok,0,Zorvex Studio,installer,2024.2 Update 1,2024.2.1-118,/opt/corva/"
             "zorvex/2024.2,zorvex.studio,Integrated design and build environment,,,\n"
             "127.0.0.2,ok,0,Zorvex command line tools,dpkg,1:3.4,1:3.4-2,/opt/corva/zorvex,,,"
             "corva-zorvex-cli,amd64,\n"
             "127.0.0.2,ok,0,Zorvex runtime libraries,dpkg,2024.2.0,2024.2.0-48,/opt/corva/"
             "zorvex,,,corva-zorvex-runtime corva-zorvex-runtime-common,amd64,\n"
             "127.0.0.3,ok,0,Zorvex Profiler,installer,3.1,3.1.0-4,/opt/corva/zorvex/2.4,"
             "zorvex.profiler,\"Finds hot spots, fast\",,,\n"
             "127.0.0.3,ok,0,Zorvex command line tools,dpkg,2:1.0,2:1.0-1,/opt/corva/zorvex,,,"
             "corva-zorvex-cli,all,\n"
             "127.0.0.4,failed,,,,,,,,,,,\"") +
         DIAG_HOST_PATH +
         " is not installed (or not executable): install the Zorvex check package on this host "
         "(the fleet playbook does so when zorvex_deb names the .deb), or point diag_host at its "
         "diag-host\"\n"
         "127.0.0.5,ok,0,,,,,,,,,,\"No installed Zorvex products are discovered. Additional "
         "information: \nCannot obtain paths to package manager databases.\nCannot obtain "
         "installed package.\"\n";
}

size_t JsonRows(const std::string& text) {
  json_object* rows = json_tokener_parse(text.c_str());
  const size_t count =
      json_object_is_type(rows, json_type_array) ? json_object_array_length(rows) : 0;
  json_object_put(rows);
  return count;
}

}  // namespace

TEST_F(FleetAnsibleTest, InventoryListsEachHostAndTheHostWithoutTheCheck) {
  const e2e::SampleInstallation sample;
  AddHost("127.0.0.2", sample.InstallerRoot(), sample.AdminDir());
  const TempDir tree;
  const std::string corva = testsupport::WriteInstallerTree(
      tree, {{"Zorvex Profiler", "zorvex.profiler", "3.1", "3.1.0-4", "Finds hot spots, fast",
              e2e::kInstallDir}});
  {
    const testsupport::DpkgAdminDir admin(
        {{"corva-zorvex-cli", "2:1.0-1", "all", "Zorvex command line tools"}});
    AddHost("127.0.0.3", corva, admin.path());
  }
  const testsupport::DpkgAdminDir other({{"hello", "2.10-3", "amd64", "example of another"}});
  AddHost("127.0.0.4", "", other.path(), std::filesystem::path(DIAG_HOST_PATH).parent_path());
  AddHost("127.0.0.5", "", other.path());

  std::string output;
  // 2: a host failed, the others completed.
  EXPECT_EQ(RunPlaybook(output), 2) << output;
  EXPECT_NE(output.find("127.0.0.4                  : ok=1    changed=0    unreachable=0    "
                        "failed=1"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find(ExpectedCsv()), std::string::npos) << output;
  EXPECT_EQ(testsupport::ReadFile(work_ / "out/fleet.csv"), ExpectedCsv());
  EXPECT_EQ(JsonRows(testsupport::ReadFile(work_ / "out/fleet.json")), 8u);
}

TEST(FleetAnsibleModule, AnsibleDocRendersTheModule) {
  const TempDir home;  // for Ansible's own files
  std::string output;
  EXPECT_EQ(testsupport::Shell("HOME='" + home.path() + "' ansible-doc -M '" +
                                   std::string(ZORVEX_SOURCE_DIR) +
                                   "/integrations/ansible/library' zorvex_products 2>&1",
                               &output),
            0)
      << output;
  for (const char* part : {"> ZORVEX_PRODUCTS", "- diag_host", "EXAMPLES:", "RETURN VALUES:"}) {
    EXPECT_NE(output.find(part), std::string::npos) << part << " in\n" << output;
  }
}
