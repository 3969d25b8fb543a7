#ifndef ZORVEX_FIXTURES_SCOPED_STATE_H
#define ZORVEX_FIXTURES_SCOPED_STATE_H

#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// Receives every failure of the fixtures: the test programs' handler fails the running test and
// lets it go on; the benchmarks keep the default, which prints the message and ends the program
// with status 1, since nothing can be measured on data that could not be made.
using FailureHandler = void (*)(const std::string& message);
void SetFailureHandler(FailureHandler handler);
// Reports `message` through the installed handler; returns when the handler does.
void Fail(const std::string& message);

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it on destruction, even
// when the test fails. Permissions that a test took away are restored before removal.
class TempDir {
 public:
  TempDir();
  // A fresh directory under `base` instead.
  explicit TempDir(const std::string& base);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // `relative` below this directory.
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }
  // Writes `content` to `relative`, creating the parent directories; returns the full path.
  std::string Write(const std::string& relative, const std::string& content) const;
  // Creates `relative` and its parents; returns the full path.
  std::string MakeDir(const std::string& relative) const;

 private:
  std::string path_;
};

// Writes `content` to `path`, creating the parent directories; fails when it cannot.
void WriteFile(const std::string& path, const std::string& content);

// Sets (or, with `unset`, removes) one environment variable for the scope and restores it after.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::string& value);
  explicit ScopedEnv(std::string name);  // unsets
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Save();

  std::string name_;
  bool had_ = false;
  std::string old_;
};

// A folder to put first on, or to make up all of, PATH: links to real tools of this machine and
// scripts standing in for tools where no real one can produce a case.
class ToolDir {
 public:
  // Links `tools` (found on the current PATH) into the folder; fails for one there is none of.
  void Link(const std::vector<std::string>& tools) const;
  // Writes an executable "#!/bin/sh" script named `name` with `body`.
  void Script(const std::string& name, const std::string& body) const;
  const std::string& path() const { return dir_.path(); }

 private:
  TempDir dir_;
};

// For its scope, PATH is a folder holding links to `tools` (found on the PATH before) and, where
// `whichBody` is given, a "which" script with that body, and nothing else.
class ToolsOnPath {
 public:
  explicit ToolsOnPath(const std::vector<std::string>& tools, const std::string& whichBody = "");

 private:
  ToolDir tools_;
  std::optional<ScopedEnv> path_;
};

// The full path of `tool` on the current PATH, or "" when there is none.
std::string FindTool(const std::string& tool);

// Runs `command` through /bin/sh and returns its exit status (or -1); its output is discarded
// unless `output` is given.
int Shell(const std::string& command, std::string* output = nullptr);

// Reads a whole file; "" when it cannot be read.
std::string ReadFile(const std::string& path);

// Kills the test process with SIGALRM when it is still running after `seconds`: a call that
// blocks then fails its test at once instead of hanging the run.
class HangGuard {
 public:
  explicit HangGuard(unsigned int seconds);
  ~HangGuard();
  HangGuard(const HangGuard&) = delete;
  HangGuard& operator=(const HangGuard&) = delete;
};

}  // namespace testsupport

#endif  // ZORVEX_FIXTURES_SCOPED_STATE_H
