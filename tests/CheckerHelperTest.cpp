// The command runner on real children, splitting, and package-manager detection through PATH.
#include <gtest/gtest.h>

#include <optional>
#include <regex>

#include "CheckerHelper.h"
#include "SystemCommands.h"
#include "TestSupport.h"

using testsupport::ScopedEnv;
using testsupport::ToolDir;

namespace {

using Pieces = std::vector<std::string>;

TEST(RunCommand, ReturnsExitCodeAndAppendsOutput) {
  std::string output = "kept:";
  EXPECT_EQ(CheckerHelper::RunCommand("printf 'a\\nb\\n'; exit 7", output), 7);
  EXPECT_EQ(output, "kept:a\nb\n");
  EXPECT_EQ(CheckerHelper::RunCommand("exit 255", output), 255);
  EXPECT_EQ(CheckerHelper::RunCommand("true", output), 0);
  EXPECT_EQ(output, "kept:a\nb\n");
}

TEST(RunCommand, StandardErrorIsNotCaptured) {
  std::string output;
  EXPECT_EQ(CheckerHelper::RunCommand("echo out; echo err >&2", output), 0);
  EXPECT_EQ(output, "out\n");
}

TEST(RunCommand, MissingProgramIsTheShellsStatus127) {
  std::string output;
  EXPECT_EQ(CheckerHelper::RunCommand("no-such-program-zorvex 2>/dev/null", output), 127);
  EXPECT_TRUE(output.empty());
}

TEST(RunCommand, PipelineStatusIsThatOfItsLastCommand) {
  std::string output;
  EXPECT_EQ(CheckerHelper::RunCommand("printf 'x\\ny\\n' | grep ii", output), 1);
  EXPECT_EQ(CheckerHelper::RunCommand("printf 'aii\\ny\\n' | grep ii", output), 0);
  EXPECT_EQ(output, "aii\n");
}

// A killed command has failed: it must not look like one that succeeded.
TEST(RunCommand, CommandKilledBySignalIsAFailure) {
  std::string output;
  EXPECT_EQ(CheckerHelper::RunCommand("echo partial; kill -KILL $$", output), 128 + 9);
  EXPECT_EQ(output, "partial\n");
  EXPECT_EQ(CheckerHelper::RunCommand("kill -TERM $$", output), 128 + 15);
}

TEST(RunCommand, LongLinesArriveWholeAcrossChunks) {
  std::string output;
  // 1000 characters on one line, then a short one: several 255-byte reads.
  EXPECT_EQ(CheckerHelper::RunCommand("printf '%01000d\\nend\\n' 0", output), 0);
  EXPECT_EQ(output, std::string(1000, '0') + "\nend\n");
}

TEST(RunCommand, NulByteCutsOnlyTheRestOfItsChunk) {
  std::string output;
  EXPECT_EQ(CheckerHelper::RunCommand("printf 'ab\\000cd\\nnext\\n'", output), 0);
  EXPECT_EQ(output, "abnext\n");
}

TEST(SplitString, LineFeedsFollowTheTokenIteratorRules) {
  EXPECT_EQ(CheckerHelper::SplitString("one\ntwo\n", "\n"), (Pieces{"one", "two"}));
  EXPECT_EQ(CheckerHelper::SplitString("\none", "\n"), (Pieces{"", "one"}));
  EXPECT_EQ(CheckerHelper::SplitString("one\n\ntwo", "\n"), (Pieces{"one", "", "two"}));
  EXPECT_EQ(CheckerHelper::SplitString("", "\n"), (Pieces{""}));
  EXPECT_EQ(CheckerHelper::SplitString("\n", "\n"), (Pieces{""}));
  EXPECT_EQ(CheckerHelper::SplitString("no delimiter", "\n"), (Pieces{"no delimiter"}));
}

TEST(SplitString, WhitespaceRunsAreOneSeparator) {
  EXPECT_EQ(CheckerHelper::SplitString("ii  name  1.0  amd64  two words", "(\\s+)"),
            (Pieces{"ii", "name", "1.0", "amd64", "two", "words"}));
  EXPECT_EQ(CheckerHelper::SplitString(" \t lead\v\f\rtrail \t", "(\\s+)"),
            (Pieces{"", "lead", "trail"}));
  EXPECT_EQ(CheckerHelper::SplitString("", "(\\s+)"), (Pieces{""}));
  EXPECT_EQ(CheckerHelper::SplitString("   ", "(\\s+)"), (Pieces{""}));
  // Bytes above 127 are not white space in the C locale.
  EXPECT_EQ(CheckerHelper::SplitString("a\xa0"
                                       "b",
                                       "(\\s+)"),
            (Pieces{"a\xa0"
                    "b"}));
}

TEST(SplitString, EveryTabSeparates) {
  EXPECT_EQ(CheckerHelper::SplitString("n\tv\ta\t\t:Corva", "\t"),
            (Pieces{"n", "v", "a", "", ":Corva"}));
  EXPECT_EQ(CheckerHelper::SplitString("n\t", "\t"), (Pieces{"n"}));
}

TEST(SplitString, OtherPatternsAreRegularExpressions) {
  EXPECT_EQ(CheckerHelper::SplitString("abc", "."), (Pieces{"", "", ""}));
  EXPECT_EQ(CheckerHelper::SplitString("a1b22c", "[0-9]+"), (Pieces{"a", "b", "c"}));
  EXPECT_THROW(CheckerHelper::SplitString("a", "("), std::regex_error);
}

// Each case puts a folder of tools, and nothing else, on PATH.
class OsTypeProbe : public ::testing::Test {
 protected:
  ToolDir tools;
  void UsePath() { path_.emplace("PATH", tools.path()); }

 private:
  std::optional<ScopedEnv> path_;
};

TEST_F(OsTypeProbe, DpkgWinsOverRpm) {
  tools.Link({"which", "dpkg", "rpm"});
  UsePath();
  EXPECT_EQ(CheckerHelper::GetOsType(), OS_TYPE_DEB);
}

TEST_F(OsTypeProbe, RpmWithoutDpkg) {
  tools.Link({"which", "rpm"});
  UsePath();
  EXPECT_EQ(CheckerHelper::GetOsType(), OS_TYPE_RPM);
}

TEST_F(OsTypeProbe, NeitherManager) {
  tools.Link({"which"});
  UsePath();
  EXPECT_EQ(CheckerHelper::GetOsType(), OS_TYPE_NONE);
}

TEST_F(OsTypeProbe, WithoutWhichTheShellStillFindsTheManagers) {
  tools.Link({"rpm"});
  UsePath();
  EXPECT_EQ(CheckerHelper::GetOsType(), OS_TYPE_RPM);
}

// No real which can be made to die by a signal; a stand-in that kills itself does. It finds
// nothing, and the probe says it cannot tell rather than that neither manager is there.
TEST_F(OsTypeProbe, WhichKilledBySignalFindsNothingAndCannotTell) {
  tools.Link({"dpkg", "rpm", "kill"});
  tools.Script("which", "kill -KILL $$");
  UsePath();
  EXPECT_EQ(CheckerHelper::GetOsType(), OS_TYPE_NONE);
  std::string failure;
  SystemCommands onTheSpot;
  EXPECT_EQ(onTheSpot.OsType(failure), OS_TYPE_NONE);
  EXPECT_EQ(failure,
            "Cannot tell whether dpkg or rpm is installed. The command \"which dpkg 2>/dev/null\" "
            "was ended by signal 9.");
}

}  // namespace
