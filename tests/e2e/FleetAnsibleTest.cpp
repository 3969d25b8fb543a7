// The fleet playbook run by Debian's ansible-core over real SSH against four hosts, 127.0.0.2 to
// 127.0.0.5: each an sshd in a mount namespace of its own whose /var is a fixture of its own (an
// installer tree in /var/corva, a dpkg database in /var/lib/dpkg). Every host runs the build
// tree's diag-host, except 127.0.0.4, where its folder is hidden: the check is missing there.
#include <gtest/gtest.h>
#include <json-c/json.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "Daemon.h"
#include "LoadedPlugin.h"
#include "TestSupport.h"

using testsupport::TempDir;

namespace {

const std::string kPlaybook =
    std::string(ZORVEX_SOURCE_DIR) + "/integrations/ansible/fleet-inventory.yml";

// The namespace's own /var and /run (sshd needs /run/sshd), the check hidden where asked, then
// sshd in the foreground: the process that the test started is sshd itself.
const char* const kHostScript =
    "set -e\n"
    "mount --bind \"$1\" /var\n"
    "mount -t tmpfs -o mode=0755 zorvex-fleet-run /run\n"
    "mkdir /run/sshd\n"
    "if [ -n \"$3\" ]; then mount -t tmpfs -o mode=0755 zorvex-fleet-hidden \"$3\"; fi\n"
    "exec /usr/sbin/sshd -D -e -f \"$2/sshd_config\"\n";

void CopyTree(const std::string& from, const std::string& to) {
  std::filesystem::create_directories(to);
  std::filesystem::copy(from, to, std::filesystem::copy_options::recursive);
}

class FleetAnsibleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) {
      GTEST_SKIP() << "the hosts need mount namespaces of their own, which only root can make";
    }
    ASSERT_EQ(KeyPair(work_ / "client"), 0);
    std::filesystem::copy_file(work_ / "client.pub", work_ / "authorized_keys");
  }

  static int KeyPair(const std::string& file) {
    return testsupport::Shell("ssh-keygen -q -t ed25519 -N '' -C zorvex-fleet-test -f '" + file +
                              "'");
  }

  // A host's /var: the installer tree `corva` (none when empty) and the dpkg database `dpkg`.
  std::string HostVar(const std::string& address, const std::string& corva,
                      const std::string& dpkg) const {
    const std::string var = work_.MakeDir(address + "/var");
    if (corva.empty()) {
      work_.MakeDir(address + "/var/corva");
    } else {
      CopyTree(corva, var + "/corva");
    }
    CopyTree(dpkg, var + "/lib/dpkg");
    return var;
  }

  // Starts the sshd of `address` on a free port, its /var being `var`, with `hidden` (a folder)
  // covered by an empty one.
  void StartHost(const std::string& address, const std::string& var,
                 const std::string& hidden = "") {
    const std::string dir = work_ / address;
    ASSERT_EQ(KeyPair(dir + "/host_key"), 0);
    const int port = e2e::FreePort(address);
    work_.Write(address + "/sshd_config",
                "ListenAddress " + address + ":" + std::to_string(port) + "\nHostKey " + dir +
                    "/host_key\nAuthorizedKeysFile " + (work_ / "authorized_keys") +
                    "\nPermitRootLogin prohibit-password\nPasswordAuthentication no\n"
                    "KbdInteractiveAuthentication no\nUsePAM no\nStrictModes no\nUseDNS no\n"
                    "PidFile none\nSubsystem sftp internal-sftp\n");
    knownHosts_ += "[" + address + "]:" + std::to_string(port) + " " +
                   testsupport::ReadFile(dir + "/host_key.pub");
    inventory_ += address + " ansible_port=" + std::to_string(port) + "\n";
    hosts_.push_back(std::make_unique<e2e::Daemon>(
        std::vector<std::string>{"unshare", "-m", "sh", "-c", kHostScript, "fleet-host", var, dir,
                                 hidden},
        dir + "/sshd.log"));
    ASSERT_TRUE(e2e::WaitForListener(address, port, 20))
        << testsupport::ReadFile(dir + "/sshd.log");
  }

  // Runs the playbook as the README shows, with a configuration that keeps every file of
  // Ansible's in the test's folder and opens no lasting SSH connections.
  int RunPlaybook(std::string& output) const {
    work_.Write("known_hosts", knownHosts_);
    work_.Write("hosts", "[fleet]\n" + inventory_ +
                             "[fleet:vars]\nansible_user=root\n"
                             "ansible_python_interpreter=/usr/bin/python3\n"
                             "ansible_ssh_private_key_file=" +
                             (work_ / "client") +
                             "\nansible_ssh_common_args=-o UserKnownHostsFile=" +
                             (work_ / "known_hosts") + " -o IdentitiesOnly=yes\n");
    work_.Write("ansible.cfg", "[defaults]\nremote_tmp=" + (work_ / "remote-tmp") +
                                   "\nlocal_tmp=" + (work_ / "local-tmp") +
                                   "\nnocolor=true\ntimeout=20\n"
                                   "[ssh_connection]\nssh_args=-o ControlMaster=no\n"
                                   "pipelining=true\n");
    return testsupport::Shell("cd '" + work_.path() + "' && HOME='" + work_.MakeDir("home") +
                                  "' ANSIBLE_CONFIG='" + (work_ / "ansible.cfg") +
                                  "' timeout -k 5 240 ansible-playbook -i hosts '" + kPlaybook +
                                  "' -e zorvex_diag_host='" + DIAG_HOST_PATH +
                                  "' -e zorvex_inventory_dir='" + (work_ / "out") + "' 2>&1",
                              &output);
  }

  TempDir work_;
  std::string knownHosts_;
  std::string inventory_;
  std::vector<std::unique_ptr<e2e::Daemon>> hosts_;
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
  {
    const e2e::SampleInstallation sample;
    StartHost("127.0.0.2", HostVar("127.0.0.2", sample.InstallerRoot(), sample.AdminDir()));
  }
  {
    const TempDir tree;
    const testsupport::DpkgAdminDir admin(
        {{"corva-zorvex-cli", "2:1.0-1", "all", "Zorvex command line tools"}});
    const std::string corva = e2e::WriteInstallerTree(
        tree, {{"zorvex.profiler", "3.1.0-4", "Zorvex Profiler", "Finds hot spots, fast", "3.1"}});
    StartHost("127.0.0.3", HostVar("127.0.0.3", corva, admin.path()));
  }
  const testsupport::DpkgAdminDir other({{"hello", "2.10-3", "amd64", "example of another"}});
  StartHost("127.0.0.4", HostVar("127.0.0.4", "", other.path()),
            std::filesystem::path(DIAG_HOST_PATH).parent_path());
  StartHost("127.0.0.5", HostVar("127.0.0.5", "", other.path()));

  std::string output;
  // 2: a host failed, the others completed.
  EXPECT_EQ(RunPlaybook(output), 2) << output;
  EXPECT_NE(output.find("127.0.0.4                  : ok=1    changed=0    unreachable=0    "
                        "failed=1"),
            std::string::npos)
      << output;
  EXPECT_EQ(testsupport::ReadFile(work_ / "out/fleet.csv"), ExpectedCsv()) << output;
  EXPECT_EQ(JsonRows(testsupport::ReadFile(work_ / "out/fleet.json")), 8u);
}

TEST(FleetAnsibleModule, AnsibleDocRendersTheModule) {
  std::string output;
  EXPECT_EQ(testsupport::Shell("ansible-doc -M '" + std::string(ZORVEX_SOURCE_DIR) +
                                   "/integrations/ansible/library' zorvex_products 2>&1",
                               &output),
            0)
      << output;
  for (const char* part : {"> ZORVEX_PRODUCTS", "- diag_host", "EXAMPLES:", "RETURN VALUES:"}) {
    EXPECT_NE(output.find(part), std::string::npos) << part << " in\n" << output;
  }
}
