#include "CheckerHelper.h"

#include "Split.h"
#include "SystemCommands.h"

int CheckerHelper::RunCommand(std::string command, std::string& output) {
  SystemCommands onTheSpot;
  return onTheSpot.Run(command, output);
}

std::vector<std::string> CheckerHelper::SplitString(std::string text, std::string pattern) {
  return SplitAtPattern(text, pattern);
}

int CheckerHelper::GetOsType() {
  std::string ignored;
  SystemCommands onTheSpot;
  return onTheSpot.OsType(ignored);
}
