// The exported C interface, reached as a host reaches it: dlopen, dlsym, the descriptor's bytes.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "LoadedPlugin.h"
#include "TestSupport.h"

using e2e::LoadedPlugin;
using testsupport::DpkgAdminDir;

namespace {

struct TextField {
  size_t offset;
  const char* value;
};

// The descriptor's text fields by offset, as the host reads them.
const TextField kTextFields[] = {
    {0, "zorvex_app_check"},
    {500, "GetData"},
    {1000, "default,sysinfo,compile,runtime,host,target"},
    {1500, "This check shows version information of installed Zorvex products."},
    {2000, "{}"},
    {2500, "user"},
    {3004, "1.0"},
};

using GetApiVersion = char* (*)();
using GetCheckList = check_descriptor** (*)();

}  // namespace

TEST(PluginInterface, DescriptorBytesAreTheSharedLayout) {
  const LoadedPlugin plugin;
  const auto* bytes = static_cast<const unsigned char*>(plugin.Symbol("app_check_struct"));
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(bytes) % 8, 0U);
  for (const TextField& field : kTextFields) {
    const size_t length = std::strlen(field.value);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + field.offset), length),
              field.value);
    for (size_t i = length; i < 500; ++i) {
      ASSERT_EQ(bytes[field.offset + i], 0) << "byte " << i << " of the field at " << field.offset;
    }
  }
  const unsigned char number[] = {10, 0, 0, 0};
  EXPECT_EQ(std::memcmp(bytes + 3000, number, sizeof number), 0);
  // The run pointer, little-endian, is the exported app_check.
  const auto run = reinterpret_cast<uintptr_t>(plugin.Symbol("app_check"));
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(bytes[3504 + i], (run >> (8 * i)) & 0xff) << "byte " << i << " of run";
  }
}

TEST(PluginInterface, CheckListHoldsTheOneDescriptor) {
  const LoadedPlugin plugin;
  auto* getCheckList = reinterpret_cast<GetCheckList>(plugin.Symbol("get_check_list"));
  ASSERT_NE(getCheckList, nullptr);
  check_descriptor** list = getCheckList();
  EXPECT_EQ(getCheckList(), list);
  EXPECT_EQ(list[0], plugin.Symbol("app_check_struct"));
  EXPECT_EQ(list[1], nullptr);
}

// Needs a library that nothing in this process has touched yet, so it loads one in a child.
TEST(PluginInterface, ApiVersionIsEmptyUntilAskedThenStaysAtOneAddress) {
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  const pid_t child = fork();
  if (child == 0) {
    std::string result = "not loaded";
    if (void* handle = dlopen(ZORVEX_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL)) {
      auto* buffer = static_cast<char*>(dlsym(handle, "api_version"));
      auto* getApiVersion = reinterpret_cast<GetApiVersion>(dlsym(handle, "get_api_version"));
      const bool zeroed = std::all_of(buffer, buffer + 500, [](char c) { return c == 0; });
      char* first = getApiVersion();
      char* second = getApiVersion();
      result = std::string(zeroed ? "zeroed" : "dirty") + "|" + first + "|" +
               (first == buffer && second == buffer ? "same" : "moved") + "|" +
               std::to_string(std::count(buffer, buffer + 500, '\0'));
    }
    (void)!write(pipeEnds[1], result.data(), result.size());
    _exit(0);
  }
  close(pipeEnds[1]);
  std::string result;
  char buffer[256];
  ssize_t got = 0;
  while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0) {
    result.append(buffer, static_cast<size_t>(got));
  }
  close(pipeEnds[0]);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(result, "zeroed|0.1|same|497");
}

TEST(PluginInterface, EveryRunGivesANewBufferWithTheSameReport) {
  const DpkgAdminDir admin({{"corva-zorvex-cli", "3.1-2", "amd64", "Zorvex command line tools"}});
  LoadedPlugin plugin;
  const testsupport::TempDir empty;
  plugin.SetInstallerRoot(empty.path());
  auto** list = reinterpret_cast<GetCheckList>(plugin.Symbol("get_check_list"))();
  char* first = list[0]->run(nullptr);
  int anything = 0;
  char* second = list[0]->run(&anything);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_STREQ(first, second);
  EXPECT_NE(std::strstr(first, "corva-zorvex-cli"), nullptr);
  delete[] first;
  delete[] second;
}

// The stand-alone program has no main of its own: the library's prints the report and one line
// feed, and its status follows the report's words ("FAIL" gives 2 unless "ERROR" is there).
TEST(PluginInterface, StandAloneProgramPrintsTheReportAndItsStatus) {
  const DpkgAdminDir admin({{"corva-zorvex-cli", "3.1-2", "amd64", "Zorvex FAIL-safe tools"}});
  std::string output;
  const int status = testsupport::Shell(ZORVEX_APP_CHECK_PATH, &output);
  LoadedPlugin plugin;
  plugin.RestoreLocations();  // the program searches the default locations
  const std::string report = plugin.RunCheck();
  ASSERT_NE(report.find("Zorvex FAIL-safe tools"), std::string::npos) << report;
  EXPECT_EQ(output, report + "\n");
  EXPECT_EQ(status, report.find("ERROR") != std::string::npos ? 3 : 2);
}
