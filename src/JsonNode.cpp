#include "JsonNode.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Split.h"

namespace {

void AddStringMember(json_object* object, const char* key, const std::string& text) {
  json_object_object_add(object, key, json_object_new_string(text.c_str()));
}

// Manifests hold a few kilobytes of texts. One of tens of megabytes would be read, parsed and
// written into the report whole, several times its size, for no product.
constexpr off_t kLargestFile = off_t{16} << 20;

std::string FileMessage(const char* reason, const std::string& path, const char* after = "") {
  return std::string(reason) + '"' + path + '"' + after + " \n";
}

// Reads the `size` bytes of an opened regular file. Read rather than mapped: a file that another
// process truncates meanwhile then reads short instead of killing the host with SIGBUS. Like a
// mapping, an empty file cannot be read.
bool ReadWhole(int fd, size_t size, std::string& text) {
  if (size == 0) {
    return false;
  }
  text.resize(size);
  size_t done = 0;
  while (done < size) {
    const ssize_t got = read(fd, &text[done], size - done);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      return false;
    }
    if (got == 0) {
      break;
    }
    done += static_cast<size_t>(got);
  }
  text.resize(done);
  return true;
}

}  // namespace

void JsonNode::AddJsonTopNode(json_object* top, json_object* root) {
  json_object_object_add(top, "Value", root);
}

void JsonNode::AddJsonNode(json_object* parent, std::string name, std::string retVal,
                           std::string message, std::string command, unsigned int verbosity,
                           json_object* value) {
  json_object* node = json_object_new_object();
  json_object_object_add(parent, name.c_str(), node);
  if (!message.empty()) {
    AddStringMember(node, "Message", message);
  }
  if (!command.empty()) {
    AddStringMember(node, "Command", command);
  }
  if (verbosity != 0) {
    json_object_object_add(node, "Verbosity", json_object_new_int(static_cast<int>(verbosity)));
  }
  AddStringMember(node, "RetVal", retVal);
  json_object_object_add(node, "Value", value);
}

void JsonNode::AddJsonNode(json_object* parent, std::string name, std::string retVal,
                           std::string message, std::string command, unsigned int verbosity,
                           std::string value) {
  AddJsonNode(parent, std::move(name), std::move(retVal), std::move(message), std::move(command),
              verbosity, json_object_new_string(value.c_str()));
}

void JsonNode::AddJsonNode(json_object* parent, std::string name, std::string retVal,
                           std::string message, std::string command, unsigned int verbosity,
                           unsigned int value) {
  AddJsonNode(parent, std::move(name), std::move(retVal), std::move(message), std::move(command),
              verbosity, json_object_new_int64(static_cast<int64_t>(value)));
}

void JsonNode::AddJsonNode(json_object* parent, std::string name, std::string retVal,
                           json_object* value) {
  AddJsonNode(parent, std::move(name), std::move(retVal), 0u, value);
}

void JsonNode::AddJsonNode(json_object* parent, std::string name, std::string retVal,
                           unsigned int verbosity, json_object* value) {
  AddJsonNode(parent, std::move(name), std::move(retVal), {}, {}, verbosity, value);
}

void JsonNode::AddJsonNode(json_object* parent, std::string name, std::string retVal,
                           std::string value) {
  AddJsonNode(parent, std::move(name), std::move(retVal), 0u, std::move(value));
}

void JsonNode::AddJsonNode(json_object* parent, std::string name, std::string retVal,
                           unsigned int verbosity, std::string value) {
  AddJsonNode(parent, std::move(name), std::move(retVal), {}, {}, verbosity, std::move(value));
}

void JsonNode::AddJsonNode(json_object* parent, std::string name, std::string retVal,
                           unsigned int value) {
  AddJsonNode(parent, std::move(name), std::move(retVal), 0u, value);
}

void JsonNode::AddJsonNode(json_object* parent, std::string name, std::string retVal,
                           unsigned int verbosity, unsigned int value) {
  AddJsonNode(parent, std::move(name), std::move(retVal), {}, {}, verbosity, value);
}

bool JsonNode::ParseFile(std::string path, json_object** result, std::string& message) {
  // Non-blocking, so that opening a FIFO returns at once instead of waiting for a writer.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat status {};
  const bool measured = fd >= 0 && fstat(fd, &status) == 0;
  const bool regular = measured && S_ISREG(status.st_mode);
  const bool tooLarge = regular && status.st_size > kLargestFile;
  std::string text;
  const bool read =
      regular && !tooLarge && ReadWhole(fd, static_cast<size_t>(status.st_size), text);
  if (fd >= 0) {
    close(fd);
  }
  if (!read) {
    message = !measured  ? FileMessage("Cannot obtain length of file ", path)
              : tooLarge ? FileMessage("File ", path, " is larger than 16 MiB")
                         : FileMessage("Cannot read file ", path);
    return false;
  }
  *result = json_tokener_parse(text.c_str());
  return true;
}

json_object* JsonNode::GetObject(json_object* root, std::string path) {
  json_object* current = root;
  for (const std::string& name : SplitString(std::move(path), "/")) {
    json_object* member = nullptr;
    if (!json_object_object_get_ex(current, name.c_str(), &member)) {
      return nullptr;
    }
    current = member;
  }
  return current;
}

std::vector<std::string> JsonNode::SplitString(std::string text, std::string delimiter) {
  return SplitAtPattern(text, delimiter);
}
