// The software bills of materials of diag-host, read by real validators: the CycloneDX library in
// strict mode and the SPDX 2.3 schema, with every package URL parsed back by the package-URL
// library. The validators are installed by tests/sbom/install-validators.sh.
#include <gtest/gtest.h>

#include <regex>

#include "LoadedPlugin.h"
#include "TestSupport.h"

using e2e::HostRun;
using testsupport::TempDir;

namespace {

const std::string kSbomDir = std::string(ZORVEX_SOURCE_DIR) + "/tests/sbom/";
const std::string kSpdxSchema =
    std::string(ZORVEX_SOURCE_DIR) + "/../shared/schemas/spdx-2.3.schema.json";

// What this machine's os-release says, as the package URLs carry it.
std::string OsField(const std::string& name) {
  std::string value;
  testsupport::Shell(". /etc/os-release && printf %s \"$" + name + "\"", &value);
  return value;
}

// A package URL as the library parses it: [type, namespace, name, version, qualifiers].
std::string Parsed(const std::string& type, const std::string& nameSpace, const std::string& name,
                   const std::string& version, const std::string& arch) {
  const std::string qualifiers = arch.empty()
                                     ? "null"
                                     : R"({"arch":")" + arch + R"(","distro":")" + OsField("ID") +
                                           "-" + OsField("VERSION_ID") + R"("})";
  return "[\"" + type + "\",\"" + nameSpace + "\",\"" + name + "\",\"" + version + "\"," +
         qualifiers + "]\n";
}

class SbomTest : public ::testing::Test {
 protected:
  void SetUp() override {
    node_ = testsupport::FindTool("node");
    if (node_.empty() ||
        testsupport::ReadFile(kSbomDir + "node_modules/.package-lock.json").empty()) {
      GTEST_SKIP() << "the validators are not installed: run tests/sbom/install-validators.sh";
    }
  }

  HostRun Host(const std::string& format, const std::string& arguments) const {
    return e2e::RunDiagHost("--format " + format + " " + arguments, scratch_);
  }

  // Validates `document` and returns its package URLs as parsed back; a document that is not
  // valid fails the test. With `cyclonedx` false the document is SPDX.
  std::string Validated(const std::string& document, bool cyclonedx) const {
    const std::string file = scratch_.Write(cyclonedx ? "bom.cdx.json" : "bom.spdx.json", document);
    if (!cyclonedx) {
      EXPECT_EQ(SpdxSchemaStatus(file), 0) << document;
    }
    std::string purls;
    const int status = testsupport::Shell(node_ + " '" + kSbomDir + "check-sbom.cjs' " +
                                              (cyclonedx ? "--cyclonedx '" : "'") + file + "'",
                                          &purls);
    EXPECT_EQ(status, 0) << document;
    return purls;
  }

  int CycloneDxStatus(const std::string& document) const {
    const std::string file = scratch_.Write("broken.cdx.json", document);
    return testsupport::Shell(node_ + " '" + kSbomDir + "check-sbom.cjs' --cyclonedx '" + file +
                              "' >/dev/null 2>&1");
  }

  int SpdxSchemaStatus(const std::string& file) const {
    if (testsupport::ReadFile(kSpdxSchema).empty()) {
      ADD_FAILURE() << "no SPDX schema at " << kSpdxSchema;
      return -1;
    }
    return testsupport::Shell("/usr/bin/python3 '" + kSbomDir + "check-spdx.py' '" + kSpdxSchema +
                              "' '" + file + "' 2>&1");
  }

  // Writes both documents of one invocation, checks that both are valid and hold the same
  // package URLs, and returns them.
  std::string BothValidated(const std::string& arguments, int expectedStatus,
                            std::string* cyclonedx = nullptr) const {
    const HostRun bom = Host("cyclonedx", arguments);
    const HostRun spdx = Host("spdx", arguments);
    EXPECT_EQ(bom.status, expectedStatus) << bom.err;
    EXPECT_EQ(spdx.status, expectedStatus) << spdx.err;
    const std::string purls = Validated(bom.out, true);
    EXPECT_EQ(Validated(spdx.out, false), purls);
    if (cyclonedx != nullptr) {
      *cyclonedx = bom.out;
    }
    return purls;
  }

  TempDir scratch_;
  std::string node_;
};

TEST_F(SbomTest, SampleInstallationInBothFormatsWithItsPackageUrls) {
  const e2e::SampleInstallation sample;
  const std::string root = "--installer-root '" + sample.InstallerRoot() + "'";
  const std::string id = OsField("ID");
  std::string bom;
  EXPECT_EQ(BothValidated(root, 0, &bom),
            Parsed("generic", "corva", "zorvex.compiler", "2024.2.0-95", "") +
                Parsed("generic", "corva", "zorvex.studio", "2024.2.1-118", "") +
                Parsed("deb", id, "corva-zorvex-cli", "1:3.4-2", "amd64") +
                Parsed("deb", id, "corva-zorvex-runtime", "2024.2.0-48", "amd64") +
                Parsed("deb", id, "corva-zorvex-runtime-common", "2024.2.0-48", "amd64"));
  EXPECT_NE(bom.find(R"("type": "operating-system")"), std::string::npos) << bom;
  // A component the schema refuses must fail: the validator does run.
  EXPECT_NE(CycloneDxStatus(std::regex_replace(bom, std::regex(R"("type": "library")"),
                                               R"("type": "nonsense")",
                                               std::regex_constants::format_first_only)),
            0);
  const std::string spdx = Host("spdx", root).out;
  const std::string broken = scratch_.Write(
      "broken.spdx.json", std::regex_replace(spdx, std::regex(R"("APPLICATION")"), R"("APP")"));
  EXPECT_NE(SpdxSchemaStatus(broken), 0);
}

// With SOURCE_DATE_EPOCH, two runs give the same bytes, dated by it; without, each is its own.
TEST_F(SbomTest, SourceDateEpochMakesTheDocumentsReproducible) {
  const e2e::SampleInstallation sample;
  const std::string root = "--installer-root '" + sample.InstallerRoot() + "'";
  for (const char* format : {"cyclonedx", "spdx"}) {
    std::string first;
    {
      const testsupport::ScopedEnv epoch("SOURCE_DATE_EPOCH", "1700000000");
      first = Host(format, root).out;
      EXPECT_EQ(Host(format, root).out, first) << format;
      EXPECT_NE(first.find("2023-11-14T22:13:20Z"), std::string::npos) << first;
    }
    const testsupport::ScopedEnv unset("SOURCE_DATE_EPOCH");
    EXPECT_NE(Host(format, root).out, Host(format, root).out) << format;
  }
}

// Texts that JSON must escape and bytes that are not UTF-8 come out valid; package names and
// versions with characters a package URL encodes parse back unchanged.
TEST_F(SbomTest, DpkgInstallerRpmAndNothingInstalledValidate) {
  const TempDir tree;
  const std::string installer =
      testsupport::WriteInstallerTree(tree, {{"Zorvex \"Q\" tools\x01\nsecond", "zorvex.q", "1",
                                              "1-2", "Say \"hi\"\t\xff", e2e::kInstallDir}});
  const std::string id = OsField("ID");
  const std::string args = "--installer-root '" + installer + "'";
  std::string bom;
  {
    const testsupport::DpkgAdminDir admin(
        {{"corva-zorvex-c++", "2:1.0~rc1-1", "amd64", "Zorvex \"C++\" caf\xe9 \x1b tools"},
         {"corva-zorvex-c++-doc", "2:1.0~rc1-1", "all", "Zorvex \"C++\" caf\xe9 \x1b tools"}});
    EXPECT_EQ(BothValidated(args, 0, &bom),
              Parsed("generic", "corva", "zorvex.q", "1-2", "") +
                  Parsed("deb", id, "corva-zorvex-c++", "2:1.0~rc1-1", "amd64") +
                  Parsed("deb", id, "corva-zorvex-c++-doc", "2:1.0~rc1-1", "amd64"));
    EXPECT_NE(bom.find("\"name\": \"Zorvex \\\"C++\\\" caf\xEF\xBF\xBD \\u001b tools\""),
              std::string::npos)
        << bom;
  }
  {
    const testsupport::RpmDatabase rpm({{"corva-zorvex-agent", "5.0", "Zorvex agent"}});
    const testsupport::ToolsOnPath path({"which", "rpm", "grep", "find"});
    EXPECT_EQ(BothValidated("--installer-root '" + (tree / "absent") + "'", 0),
              "[\"rpm\",\"corva\",\"corva-zorvex-agent\",\"5.0\",{\"arch\":\"noarch\","
              "\"distro\":\"" +
                  id + "-" + OsField("VERSION_ID") + "\"}]\n");
  }
  const testsupport::ToolsOnPath path({"which", "grep", "find"});
  EXPECT_EQ(BothValidated("--installer-root '" + (tree / "absent") + "'", 0, &bom), "");
  EXPECT_NE(bom.find("No installed Zorvex products are discovered."), std::string::npos) << bom;
}

// A library that cannot run its check still gives a valid document, without components, that
// says why, and the usual exit status.
TEST_F(SbomTest, AFailedInvocationGivesAnEmptyDocumentWithTheReason) {
  std::string bom;
  EXPECT_EQ(BothValidated(std::string("'") + OLD_INTERFACE_PLUGIN_PATH + "'", 5, &bom), "");
  EXPECT_NE(bom.find(R"("name": "zorvex:incomplete")"), std::string::npos) << bom;
  EXPECT_NE(bom.find("interface version"), std::string::npos) << bom;
}

}  // namespace
