#ifndef DIAG_HOST_TOOL_FOLDER_H
#define DIAG_HOST_TOOL_FOLDER_H

#include <string>
#include <vector>

// A private folder that is the whole PATH of an audit run: links to this machine's own tools and
// nothing else, so the check finds exactly the tools the audit means it to (no package manager for
// a per-user run; only the package manager whose database an image holds) and never one of an
// audited image. Removed with what it holds when the object goes.
class ToolFolder {
 public:
  ToolFolder() = default;
  ~ToolFolder();
  ToolFolder(const ToolFolder&) = delete;
  ToolFolder& operator=(const ToolFolder&) = delete;

  // Makes the folder, readable by every account, with links to `tools` as found on the PATH this
  // process was started with. False with the reason in `error` when one is not found.
  bool Make(const std::vector<std::string>& tools, std::string& error);
  // Writes `name` into the folder with `content` (readable by every account).
  bool Write(const std::string& name, const std::string& content, std::string& error) const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

#endif  // DIAG_HOST_TOOL_FOLDER_H
