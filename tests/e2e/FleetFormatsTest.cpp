// The flat formats of diag-host for fleet audits: the product list, the Prometheus text read back
// by the real node_exporter, the metrics file written whole, and the systemd units that refresh it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "Daemon.h"
#include "LoadedPlugin.h"
#include "TestSupport.h"

using e2e::HostRun;
using testsupport::TempDir;

namespace {

const char* const kSampleProducts =
    R"({"check":"zorvex_app_check","status":0,"products":[)"
    R"({"name":"Zorvex Compiler","source":"installer","version":"2024.2",)"
    R"("full_version":"2024.2.0-95","path":"/opt/corva/zorvex/2024.2",)"
    R"("product_id":"zorvex.compiler","description":"Optimizing C and C++ compilers"},)"
    R"({"name":"Zorvex Studio","source":"installer","version":"2024.2 Update 1",)"
    R"("full_version":"2024.2.1-118","path":"/opt/corva/zorvex/2024.2",)"
    R"("product_id":"zorvex.studio","description":"Integrated design and build environment"},)"
    R"({"name":"Zorvex command line tools","source":"dpkg","version":"1:3.4",)"
    R"("full_version":"1:3.4-2","path":"/opt/corva/zorvex",)"
    R"("packages":["corva-zorvex-cli"],"architecture":"amd64"},)"
    R"({"name":"Zorvex runtime libraries","source":"dpkg","version":"2024.2.0",)"
    R"("full_version":"2024.2.0-48","path":"/opt/corva/zorvex",)"
    R"("packages":["corva-zorvex-runtime","corva-zorvex-runtime-common"],)"
    R"("architecture":"amd64"}],"message":"",)"
    R"("sources":{"installer":{"state":"found","found":2,"message":""},)"
    R"("dpkg":{"state":"found","found":2,"message":""},)"
    R"("rpm":{"state":"skipped","found":0,"message":""}}})"
    "\n";

// The sample's series as node_exporter serves them: labels in name order.
const char* const kSampleSeries[] = {
    R"(zorvex_product_info{full_version="2024.2.0-95",path="/opt/corva/zorvex/2024.2",)"
    R"(product="Zorvex Compiler",source="installer",version="2024.2"} 1)",
    R"(zorvex_product_info{full_version="2024.2.1-118",path="/opt/corva/zorvex/2024.2",)"
    R"(product="Zorvex Studio",source="installer",version="2024.2 Update 1"} 1)",
    R"(zorvex_product_info{full_version="1:3.4-2",path="/opt/corva/zorvex",)"
    R"(product="Zorvex command line tools",source="dpkg",version="1:3.4"} 1)",
    R"(zorvex_product_info{full_version="2024.2.0-48",path="/opt/corva/zorvex",)"
    R"(product="Zorvex runtime libraries",source="dpkg",version="2024.2.0"} 1)",
    R"(zorvex_products{source="dpkg"} 2)",
    R"(zorvex_products{source="installer"} 2)",
    R"(zorvex_products{source="rpm"} 0)",
    "zorvex_check_status 0",
    "node_textfile_scrape_error 0",
};

class FleetFormatsTest : public ::testing::Test {
 protected:
  HostRun Host(const std::string& arguments) const { return e2e::RunDiagHost(arguments, scratch_); }

  // Writes the metrics of an installation into a textfile folder and returns what the real
  // node_exporter, reading only that folder, serves at /metrics.
  std::string ServedMetrics(const std::string& installerRoot) const {
    const std::string folder = scratch_.MakeDir("textfile");
    const HostRun run = Host("--format prometheus --output '" + folder + "/zorvex.prom' " +
                             "--installer-root '" + installerRoot + "'");
    EXPECT_EQ(run.status, 0) << run.err;
    const int port = e2e::FreePort("127.0.0.1");
    const std::string address = "127.0.0.1:" + std::to_string(port);
    e2e::Daemon exporter({"prometheus-node-exporter", "--web.listen-address=" + address,
                          "--collector.disable-defaults", "--collector.textfile",
                          "--collector.textfile.directory=" + folder},
                         scratch_ / "node_exporter.log");
    EXPECT_TRUE(e2e::WaitForListener("127.0.0.1", port, 20))
        << testsupport::ReadFile(scratch_ / "node_exporter.log");
    std::string metrics;
    testsupport::Shell("curl -sS --max-time 10 http://" + address + "/metrics", &metrics);
    return metrics;
  }

  TempDir scratch_;
};

void ExpectSeries(const std::string& metrics, const std::string& line) {
  EXPECT_NE(metrics.find("\n" + line + "\n"), std::string::npos) << line << "\nin:\n" << metrics;
}

}  // namespace

TEST_F(FleetFormatsTest, ProductsOfTheSampleInstallationFieldByField) {
  const e2e::SampleInstallation sample;
  const HostRun run = Host("--format products --installer-root '" + sample.InstallerRoot() + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, kSampleProducts);
}

TEST_F(FleetFormatsTest, ProductsOfInstallerAndRpmAndOfNothingFound) {
  const TempDir tree;
  const std::string root = testsupport::WriteInstallerTree(
      tree, {{"Zorvex Studio", "zorvex.studio", "2.4 ERROR", "2.4.1-7", "Design \"and\" build",
              e2e::kInstallDir}});
  {
    const testsupport::RpmDatabase rpm(
        {{"corva-zorvex-agent", "5.0", "Zorvex monitoring agent"},
         {"corva-zorvex-agent-data", "5.0", "Zorvex monitoring agent"},
         {"other-tool", "1.2", "Look-alike", "Elsewhere Ltd"}});
    const testsupport::ToolsOnPath path({"which", "rpm", "grep", "find"});
    const HostRun run = Host("--format products --installer-root '" + root + "'");
    EXPECT_EQ(run.status, 3) << run.err;  // the word ERROR in a version
    EXPECT_EQ(run.out, R"({"check":"zorvex_app_check","status":3,"products":[)"
                       R"({"name":"Zorvex Studio","source":"installer","version":"2.4 ERROR",)"
                       R"("full_version":"2.4.1-7","path":"/opt/corva/zorvex/2.4",)"
                       R"("product_id":"zorvex.studio","description":"Design \"and\" build"},)"
                       R"({"name":"Zorvex monitoring agent","source":"rpm","version":"5.0",)"
                       R"("full_version":"5.0","path":"/opt/corva/zorvex",)"
                       R"("packages":["corva-zorvex-agent","corva-zorvex-agent-data"],)"
                       R"("architecture":"noarch"}],"message":"",)"
                       R"("sources":{"installer":{"state":"found","found":1,"message":""},)"
                       R"("dpkg":{"state":"absent","found":0,"message":""},)"
                       R"("rpm":{"state":"found","found":1,"message":""}}})"
                       "\n");
  }
  const testsupport::ToolsOnPath path({"which", "grep", "find"});
  const HostRun run = Host("--format products --installer-root '" + (tree / "absent") + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, R"({"check":"zorvex_app_check","status":0,"products":[],)"
                     R"("message":"No installed Zorvex products are discovered. Additional )"
                     R"(information: \nCannot obtain paths to package manager databases.\n)"
                     R"(Obtaining information about products installed by dpkg is skipped.",)"
                     R"("sources":{"installer":{"state":"absent","found":0,)"
                     R"("message":"Cannot obtain paths to package manager databases."},)"
                     R"("dpkg":{"state":"absent","found":0,"message":)"
                     R"("Obtaining information about products installed by dpkg is skipped."},)"
                     R"("rpm":{"state":"none","found":0,"message":""}}})"
                     "\n");
}

TEST_F(FleetFormatsTest, NodeExporterServesEveryProductOfTheSampleInstallation) {
  const e2e::SampleInstallation sample;
  const std::string metrics = ServedMetrics(sample.InstallerRoot());
  for (const char* line : kSampleSeries) {
    ExpectSeries(metrics, line);
  }
  ExpectSeries(metrics, "# TYPE zorvex_check_last_run_timestamp_seconds gauge");
}

// Prometheus refuses a whole file for one label value that is not UTF-8; such bytes (here a
// Latin-1 letter and an overlong "/") become U+FFFD.
TEST_F(FleetFormatsTest, QuotesBackslashesLineFeedsAndStrayBytesSurviveTheScrape) {
  const TempDir tree;
  const testsupport::DpkgAdminDir admin({});
  const std::string title = "Zorvex \"Q\" C:\\Tools\\\nsecond line";
  const std::string root = testsupport::WriteInstallerTree(
      tree, {{title, "zorvex.q", "1", "1-2", "Q", e2e::kInstallDir},
             {"Zorvex caf\xe9 \xc0\xaf tools", "zorvex.cafe", "1", "1-3", "C", e2e::kInstallDir}});
  const std::string metrics = ServedMetrics(root);
  ExpectSeries(metrics, R"(zorvex_product_info{full_version="1-2",path="/opt/corva/zorvex/2.4",)"
                        R"(product="Zorvex \"Q\" C:\\Tools\\\nsecond line",source="installer",)"
                        R"(version="1"} 1)");
  ExpectSeries(metrics,
               "zorvex_product_info{full_version=\"1-3\",path=\"/opt/corva/zorvex/2.4\","
               "product=\"Zorvex caf\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD tools\","
               "source=\"installer\",version=\"1\"} 1");
  ExpectSeries(metrics, "node_textfile_scrape_error 0");
}

// A corrupt installer database beside a good one, alone and beside dpkg's products: the host
// never reads clean; the good database's products and dpkg's still count.
TEST_F(FleetFormatsTest, AHalfFailedCheckShowsItsFailedSourceInEveryFleetFormat) {
  const TempDir tree;
  const std::string root = tree.MakeDir("corva");
  testsupport::InstallerCache(root + "/good/", {{"zorvex.studio", "1"}});
  tree.Write("corva/bad/packagemanager.db", "not a database, cut short\n");
  for (const bool withDpkg : {false, true}) {
    SCOPED_TRACE(withDpkg ? "with dpkg products" : "without dpkg products");
    const testsupport::DpkgAdminDir admin(
        withDpkg ? std::vector<testsupport::DpkgPackage>{{"corva-zorvex-cli", "1.0-1", "amd64",
                                                          "Zorvex command line tools"}}
                 : std::vector<testsupport::DpkgPackage>{});
    const std::string arguments = " --installer-root '" + root + "'";
    const HostRun products = Host("--format products" + arguments);
    EXPECT_NE(products.status, 0) << products.out;
    EXPECT_NE(products.out.find(R"("sources":{"installer":{"state":"failed","found":1,)"),
              std::string::npos)
        << products.out;
    EXPECT_NE(products.out.find(withDpkg ? R"("dpkg":{"state":"found","found":1,"message":""},)"
                                         : R"("dpkg":{"state":"none","found":0,)"),
              std::string::npos)
        << products.out;
    const HostRun metrics = Host("--format prometheus" + arguments);
    EXPECT_NE(metrics.status, 0) << metrics.out;
    ExpectSeries(metrics.out, R"(zorvex_source_up{source="installer"} 0)");
    ExpectSeries(metrics.out, R"(zorvex_source_up{source="dpkg"} 1)");
    ExpectSeries(metrics.out, R"(zorvex_products{source="rpm"} 0)");
    ExpectSeries(metrics.out,
                 std::string(R"(zorvex_products{source="dpkg"} )") + (withDpkg ? "1" : "0"));
  }
}

// The file is replaced whole or left alone, with no temporary file left beside it.
TEST_F(FleetFormatsTest, MetricsFileIsWrittenWholeOrNotAtAll) {
  const e2e::SampleInstallation sample;
  const TempDir out;
  const std::string file = out.Write("zorvex.prom", "old\n");
  const std::string arguments = " --installer-root '" + sample.InstallerRoot() + "'";
  chmod(out.path().c_str(), 0555);
  HostRun run = Host("--format prometheus --output '" + file + "'" + arguments);
  chmod(out.path().c_str(), 0755);
  if (geteuid() != 0) {  // root writes to a read-only folder all the same
    EXPECT_EQ(run.status, 73);
    EXPECT_EQ(testsupport::ReadFile(file), "old\n");
  }
  out.MakeDir("folder.prom");
  run = Host("--format prometheus --output '" + (out / "folder.prom") + "'" + arguments);
  EXPECT_EQ(run.status, 73);
  EXPECT_NE(run.err.find("cannot write " + (out / "folder.prom")), std::string::npos) << run.err;
  run = Host("--format prometheus --output '" + file + "'" + arguments);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(testsupport::ReadFile(file).rfind("# HELP zorvex_product_info ", 0), 0u);
  EXPECT_EQ(testsupport::DirectoryEntries(out.path()),
            (std::vector<std::string>{"folder.prom", "zorvex.prom"}));
  EXPECT_EQ(Host("--format json --output x").status, 64);
}

TEST_F(FleetFormatsTest, SystemdUnitsVerify) {
  if (testsupport::FindTool("systemd-analyze").empty()) {
    GTEST_SKIP() << "systemd-analyze is not installed";
  }
  // The units name the installed /usr/bin/diag-host; verify needs a program that exists.
  const std::string units = std::string(ZORVEX_SOURCE_DIR) + "/packaging/systemd/";
  scratch_.Write("zorvex-textfile.service",
                 std::regex_replace(testsupport::ReadFile(units + "zorvex-textfile.service"),
                                    std::regex("/usr/bin/diag-host"), DIAG_HOST_PATH));
  scratch_.Write("zorvex-textfile.timer", testsupport::ReadFile(units + "zorvex-textfile.timer"));
  std::string output;
  const int status =
      testsupport::Shell("systemd-analyze --man=no verify '" + (scratch_ / "zorvex-textfile.service") +
                             "' '" + (scratch_ / "zorvex-textfile.timer") + "' 2>&1",
                         &output);
  if (status != 0 && output.find("System has not been booted with systemd") != std::string::npos) {
    GTEST_SKIP() << "systemd-analyze cannot run here: " << output;
  }
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(output, "");
}
