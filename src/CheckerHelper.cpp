#include "CheckerHelper.h"

#include "CommandsAhead.h"
#include "Split.h"

int CheckerHelper::RunCommand(std::string command, std::string& output) {
  return CommandsAhead::Run(command, output);
}

std::vector<std::string> CheckerHelper::SplitString(std::string text, std::string pattern) {
  return SplitAtPattern(text, pattern);
}

int CheckerHelper::GetOsType() {
  std::string ignored;
  return ProbeOsType(ignored);
}

int CheckerHelper::ProbeOsType(std::string& failure) { return CommandsAhead::OsType(failure); }
