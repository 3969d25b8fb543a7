// diag-host's audit modes on real accounts and real roots: --all-users searches each account's
// own folder as that account, --root audits a root file system made by the real dpkg and rpm.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "LoadedPlugin.h"
#include "TestSupport.h"

using testsupport::ReadFile;
using testsupport::Shell;
using testsupport::TempDir;

namespace {

struct HostResult {
  int status = -1;
  std::string out;
  std::string err;
};

// diag-host run through the shell; `prefix` goes before it (an environment, strace, setpriv).
HostResult Host(const std::string& arguments, const TempDir& scratch,
                const std::string& prefix = "") {
  HostResult run;
  run.status = Shell(prefix + " " DIAG_HOST_PATH " " + arguments + " 2>'" + (scratch / "err") + "'",
                     &run.out);
  run.err = ReadFile(scratch / "err");
  return run;
}

// The "products" array of a --format products line.
std::string Products(const std::string& line) {
  const size_t start = line.find("\"products\":");
  const size_t end = line.find(",\"message\":");
  return start == std::string::npos || end == std::string::npos ? line
                                                                : line.substr(start, end - start);
}

// Every file's path, mode, size, time and content checksum under `dir`.
std::string Fingerprint(const std::string& dir) {
  std::string listing;
  Shell("cd '" + dir + "' && find . -printf '%p %m %s %T@\\n' | sort && " +
            "find . -type f -exec sha256sum {} + | sort",
        &listing);
  return listing;
}

std::string Ok(const std::string& command) {
  std::string output;
  EXPECT_EQ(Shell(command + " 2>&1", &output), 0) << command << "\n" << output;
  return output;
}

uid_t Uid(const std::string& name) { return static_cast<uid_t>(std::stoul(Ok("id -u " + name))); }

// Stops every process of `uid` as soon as it appears: an account slowing down its own search.
class Stopper {
 public:
  explicit Stopper(uid_t uid) : child_(fork()) {
    if (child_ == 0) {
      for (;;) {
        StopAll(uid);
      }
    }
  }
  ~Stopper() {
    kill(child_, SIGKILL);
    waitpid(child_, nullptr, 0);
  }

 private:
  static void StopAll(uid_t uid) {
    DIR* proc = opendir("/proc");
    while (const dirent* entry = proc != nullptr ? readdir(proc) : nullptr) {
      struct stat info {};
      const std::string path = std::string("/proc/") + entry->d_name;
      if (entry->d_name[0] >= '1' && entry->d_name[0] <= '9' && stat(path.c_str(), &info) == 0 &&
          info.st_uid == uid) {
        kill(std::atoi(entry->d_name), SIGSTOP);
      }
    }
    if (proc != nullptr) {
      closedir(proc);
    }
  }
  pid_t child_;
};

const char* const kOwner = "zorvex-audit-a";    // products of their own
const char* const kPlanter = "zorvex-audit-b";  // a link to a root-only file and a FIFO
const char* const kSlow = "zorvex-audit-c";     // a search that never ends in time

class AllUsersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) {
      GTEST_SKIP() << "needs root to make accounts";
    }
    for (const char* name : {kOwner, kPlanter, kSlow}) {
      Ok(std::string("id -u ") + name + " >/dev/null 2>&1 || useradd --create-home --shell " +
         "/usr/sbin/nologin " + name);
      const std::string home = "/home/" + std::string(name);
      Ok("rm -rf '" + home + "/corva'");
      testsupport::InstallerCache(home + "/corva/zorvex/", {{std::string(name) + ".tool", "1"}});
    }
    const std::string cache = "/home/" + std::string(kPlanter) + "/corva/zorvex/";
    testsupport::WriteFile(secret_ / "manifest.json", testsupport::VisibleManifest("Root Secret"));
    Ok("chmod 600 '" + (secret_ / "manifest.json") + "' && ln -sf '" + (secret_ / "manifest.json") +
       "' '" + cache + "packagescache/" + kPlanter + ".tool,v=1/manifest.json' && mkfifo '" +
       cache + "fifo'");
    for (const char* name : {kOwner, kPlanter, kSlow}) {
      Ok(std::string("chown -R ") + name + ": /home/" + name + "/corva");
    }
    testsupport::InstallerCache(system_ / "zorvex/", {{"system.tool", "1"}});
  }

  HostResult AllUsers(const std::string& format, const std::string& prefix = "") const {
    return Host("--all-users --format " + format + " --installer-root '" + system_.path() + "'",
                scratch_, "DPKG_ADMINDIR='" + dpkg_.path() + "' " + prefix);
  }

  TempDir scratch_;
  TempDir secret_;
  TempDir system_;
  testsupport::DpkgAdminDir dpkg_{{{"corva-zorvex-cli", "1.0-1", "amd64", "Zorvex cli"}}};
};

TEST_F(AllUsersTest, EachAccountsProductsCarryItsNameAndRootOnlyDataNeverShows) {
  const std::string trace = scratch_ / "trace";
  const HostResult run =
      AllUsers("products",
               // LeakSanitizer cannot run under ptrace; a sanitized host would abort there.
               "ASAN_OPTIONS=detect_leaks=0 strace -f -qq -e trace=execve -o '" + trace + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  for (const std::string& expected :
       {std::string(R"("product_id":"zorvex-audit-a.tool","description":"About it","user":")") +
            kOwner + "\"}",
        std::string(R"("product_id":"system.tool","description":"About it"})"),
        std::string(R"("packages":["corva-zorvex-cli"])"),
        std::string(R"({"user":"zorvex-audit-b","failure":""})"),
        std::string(R"({"user":"zorvex-audit-c","failure":""})")}) {
    EXPECT_NE(run.out.find(expected), std::string::npos) << expected << "\nin " << run.out;
  }
  EXPECT_EQ(run.out.find("Root Secret"), std::string::npos) << run.out;
  std::string dpkgRuns;
  Shell("grep -c 'execve(\"[^\"]*/dpkg\"' '" + trace + "'", &dpkgRuns);
  EXPECT_EQ(dpkgRuns, "1\n") << ReadFile(trace);
}

TEST_F(AllUsersTest, SlowAccountTimesOutWhileEveryOtherPartAndSeriesStays) {
  const Stopper stopper(Uid(kSlow));
  const HostResult run = AllUsers("prometheus");
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_NE(run.err.find("zorvex-audit-c: timed out after 10 s"), std::string::npos) << run.err;
  for (const char* series :
       {"zorvex_user_search_ok{user=\"zorvex-audit-c\"} 0",
        "zorvex_user_search_ok{user=\"zorvex-audit-a\"} 1", "zorvex_products{source=\"rpm\"} 0",
        "zorvex_products{source=\"dpkg\"} 1", "user=\"zorvex-audit-a\"} 1"}) {
    EXPECT_NE(run.out.find(series), std::string::npos) << series << "\nin " << run.out;
  }
}

// A Debian root whose database the real dpkg wrote (held, removed with its configuration,
// half-configured among its packages), with an installer tree and one account's own tree.
void MakeDebianRoot(const TempDir& root, const TempDir& work) {
  root.MakeDir("var/lib/dpkg/info");
  root.MakeDir("var/lib/dpkg/updates");
  root.Write("var/lib/dpkg/status", "");
  const struct {
    const char* name;
    const char* version;
    const char* description;
    bool failingPostinst;
  } kPackages[] = {{"corva-zorvex-cli", "1:3.4-2", "Zorvex command line tools", false},
                   {"corva-zorvex-held", "2.0-1", "Zorvex held tools", false},
                   {"corva-zorvex-gone", "1.0-1", "Zorvex removed tools", false},
                   {"corva-zorvex-half", "3.0-1", "Zorvex half tools", true}};
  const std::string dpkg = "dpkg --root='" + root.path() +
                           "' --force-script-chrootless --force-not-root --log=/dev/null";
  for (const auto& package : kPackages) {
    const std::string dir = work / package.name;
    work.Write(std::string(package.name) + "/DEBIAN/control",
               std::string("Package: ") + package.name + "\nVersion: " + package.version +
                   "\nArchitecture: all\nMaintainer: Test <test@example.invalid>\nDescription: " +
                   package.description + "\n");
    work.Write(std::string(package.name) + "/etc/" + package.name + ".conf", "setting\n");
    work.Write(std::string(package.name) + "/DEBIAN/conffiles",
               std::string("/etc/") + package.name + ".conf\n");
    if (package.failingPostinst) {
      work.Write(std::string(package.name) + "/DEBIAN/postinst", "#!/bin/sh\nexit 1\n");
      Ok("chmod 755 '" + dir + "/DEBIAN/postinst'");
    }
    Ok("dpkg-deb --root-owner-group -b '" + dir + "' '" + dir + ".deb'");
    Shell(dpkg + " -i '" + dir + ".deb' 2>/dev/null");  // the failing postinst fails here
  }
  Ok("echo corva-zorvex-held hold | " + dpkg + " --set-selections && " + dpkg +
     " -r corva-zorvex-gone");
  testsupport::InstallerCache(root / "var/corva/zorvex/", {{"image.tool", "1"}});
  testsupport::InstallerCache(root / "home/imguser/corva/zorvex/", {{"imguser.tool", "1"}});
  root.Write("etc/passwd",
             "root:x:0:0::/root:/bin/sh\nimguser:x:4242:4242::/home/imguser:/bin/sh\n");
  root.Write("etc/group", "root:x:0:\nimguser:x:4242:\n");
  root.Write("etc/os-release", "PRETTY_NAME=\"Image Linux 1\"\nID=image\n");
  Ok("chown -R 4242:4242 '" + (root / "home/imguser") + "'");
}

// An rpm root whose sqlite database the real rpm wrote from a package built by rpmbuild.
void MakeRpmRoot(const TempDir& root, const TempDir& work) {
  work.Write(
      "t.spec",
      "Name: corva-zorvex-tools\nVersion: 5.1\nRelease: 1\nSummary: Zorvex rpm tools\n"
      "License: Proprietary\nVendor: Corva Corporation\n\n%description\nA test.\n\n%files\n");
  const std::string rpm = "rpm --root '" + root.path() + "' --dbpath /usr/lib/sysimage/rpm";
  Ok("rpmbuild -bb --quiet --target noarch --define '_topdir " + work.path() +
     "' --define '_tmppath " + work.path() + "' --define '_rpmdir " + (work / "out") + "' '" +
     (work / "t.spec") + "' && " + rpm + " --initdb && " + rpm +
     " -i --nodeps --justdb --ignorearch --ignoreos '" + work.path() + "'/out/*/*.rpm");
}

// Programs planted in a root, as its dpkg, rpm, find and sh, that leave a mark when run.
void PlantTraps(const TempDir& root, const std::string& mark) {
  for (const char* dir : {"bin", "usr/bin", "sbin", "usr/sbin"}) {
    for (const char* tool : {"dpkg", "dpkg-query", "rpm", "find", "sh", "which", "grep"}) {
      root.Write(std::string(dir) + "/" + tool, "#!/bin/sh\necho ran >> '" + mark + "'\n");
      Ok("chmod 755 '" + (root / (std::string(dir) + "/" + tool)) + "'");
    }
  }
}

struct RootCase {
  const char* name;
  void (*make)(const TempDir& root, const TempDir& work);
  std::vector<std::string> expected;  // in the products line
  // rpm takes its database from the account's home, which only root can cover: an ordinary user's
  // run leaves the image's rpm database out, saying so, rather than list this machine's.
  bool rpmNeedsRoot = false;
};

class OfflineRootTest : public ::testing::TestWithParam<RootCase> {};

TEST_P(OfflineRootTest, ListsTheImagesProductsRunningAndWritingNothingInIt) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root for dpkg --root, mounts and the ordinary user's run";
  }
  const TempDir scratch, work, root;
  GetParam().make(root, work);
  const std::string mark = scratch / "trap-ran";
  PlantTraps(root, mark);
  Ok("chmod 755 '" + root.path() + "'");
  const std::string before = Fingerprint(root.path());
  Ok("touch '" + (scratch / "stamp") + "' && sleep 1");

  const HostResult run =
      Host("--root '" + root.path() + "' --all-users --format products", scratch);
  EXPECT_EQ(run.status, 0) << run.err;
  for (const std::string& expected : GetParam().expected) {
    EXPECT_NE(run.out.find(expected), std::string::npos) << expected << "\nin " << run.out;
  }
  std::string newer;
  Shell("find '" + root.path() + "' -newer '" + (scratch / "stamp") + "'", &newer);
  EXPECT_EQ(newer, "");
  EXPECT_EQ(Fingerprint(root.path()), before);

  // The same products from an already read-only mount, and for an ordinary user over a copy.
  const TempDir mounted, copy;
  Ok("mount --bind '" + root.path() + "' '" + mounted.path() + "' && mount -o remount,bind,ro '" +
     mounted.path() + "'");
  const HostResult readOnly = Host("--root '" + mounted.path() + "' --format products", scratch);
  Shell("umount '" + mounted.path() + "'");
  Ok("cp -a '" + root.path() + "/.' '" + copy.path() + "' && chmod -R a+rX '" + copy.path() + "'");
  const auto account = testsupport::TestUserAccount();
  ASSERT_TRUE(account);
  const HostResult ordinary = Host("--root '" + copy.path() + "' --format products", scratch,
                                   "setpriv --reuid=" + std::to_string(account->uid) + " --regid=" +
                                       std::to_string(account->gid) + " --clear-groups");
  const HostResult system = Host("--root '" + root.path() + "' --format products", scratch);
  EXPECT_EQ(Products(readOnly.out), Products(system.out)) << readOnly.err;
  if (GetParam().rpmNeedsRoot) {
    EXPECT_EQ(Products(ordinary.out), R"("products":[])") << ordinary.err;
    EXPECT_NE(ordinary.err.find("cannot be read (not run as root"), std::string::npos)
        << ordinary.err;
  } else {
    EXPECT_EQ(Products(ordinary.out), Products(system.out)) << ordinary.err;
  }
  EXPECT_NE(ordinary.err.find("not run as root"), std::string::npos) << ordinary.err;
  EXPECT_FALSE(std::ifstream(mark).good()) << "a program of the root ran";
}

const RootCase kRoots[] = {
    {"debian",
     MakeDebianRoot,
     {R"("product_id":"image.tool","description":"About it"})",
      R"("product_id":"imguser.tool","description":"About it","user":"imguser"})",
      R"("packages":["corva-zorvex-cli"])", R"("os":"Image Linux 1")"}},
    {"rpm", MakeRpmRoot, {R"({"name":"Zorvex rpm tools","source":"rpm","version":"5.1")"}, true},
};
INSTANTIATE_TEST_SUITE_P(Roots, OfflineRootTest, ::testing::ValuesIn(kRoots),
                         [](const auto& info) { return std::string(info.param.name); });

// Against a run pointed at the root's data by hand: the same products.
TEST(OfflineRootEquivalenceTest, DebianRootListsWhatThisMachinesToolsReadFromItsData) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root";
  }
  const TempDir scratch, work, root;
  MakeDebianRoot(root, work);
  const HostResult offline = Host("--root '" + root.path() + "' --format products", scratch);
  const HostResult byHand =
      Host("--installer-root '" + (root / "var/corva") + "' --format products", scratch,
           "DPKG_ADMINDIR='" + (root / "var/lib/dpkg") + "'");
  EXPECT_EQ(Products(offline.out), Products(byHand.out));
}

TEST(AuditModesBadInputTest, EachHasAClearMessageAndStatusAndWritesNothing) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root";
  }
  const TempDir scratch, corrupt;
  corrupt.Write("var/lib/dpkg/status", "Package corva-zorvex-cli\nthis is no status file\n");
  const std::string file = scratch.Write("file", "");
  const auto account = testsupport::TestUserAccount();
  ASSERT_TRUE(account);
  const std::string ordinary = "setpriv --reuid=" + std::to_string(account->uid) +
                               " --regid=" + std::to_string(account->gid) + " --clear-groups";
  const struct {
    std::string arguments;
    std::string prefix;
    int status;
    std::string message;
  } kCases[] = {
      {"--root '" + file + "'", "", 66, "not a folder"},
      {"--root '" + (scratch / "missing") + "'", "", 66, "No such file or directory"},
      {"--root /", "", 64, "this machine's own root"},
      {"--root '" + corrupt.path() + "'", "", 65, "dpkg database cannot be read"},
      {"--all-users --format products", ordinary, 77, "--all-users needs root"},
  };
  const std::string before = Fingerprint(corrupt.path());
  for (const auto& bad : kCases) {
    const HostResult run = Host(bad.arguments + " --format products", scratch, bad.prefix);
    EXPECT_EQ(run.status, bad.status) << bad.arguments;
    EXPECT_NE(run.err.find(bad.message), std::string::npos) << bad.arguments << ": " << run.err;
    EXPECT_EQ(run.out, "") << bad.arguments;
  }
  EXPECT_EQ(Fingerprint(corrupt.path()), before);
}

}  // namespace
