#include "JsonNode.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "RegularFile.h"
#include "Split.h"

namespace {

void AddStringMember(json_object* object, const char* key, const std::string& text) {
  json_object_object_add(object, key, json_object_new_string(text.c_str()));
}

// Manifests hold a few kilobytes of texts. One of tens of megabytes would be read, parsed and
// written into the report whole, several times its size, for no product.
constexpr off_t kLargestFile = off_t{16} << 20;

// json-c spends about 70 bytes on each value it parses: 16 MiB of "[0,0,0,..." would take 600 MB.
// Manifests hold a few dozen values.
constexpr size_t kMostValues = 100000;

std::string FileMessage(const char* reason, const std::string& path, const char* after = "") {
  return std::string(reason) + '"' + path + '"' + after + " \n";
}

// Reads the `size` bytes of an opened regular file. Read rather than mapped: a file that another
// process truncates meanwhile then reads short instead of killing the host with SIGBUS. Like a
// mapping, an empty file cannot be read; neither can one that fails to read (an I/O error is not
// a text that is not JSON).
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

// At most how many values parsing `text` can make: each value but the first follows a "[", a ","
// or a ":" outside a string. Values deeper than json-c parses are never made.
size_t MostValues(const std::string& text) {
  size_t values = 1;
  int depth = 0;
  bool inString = false;
  for (size_t at = 0; at < text.size() && text[at] != '\0'; ++at) {
    const char c = text[at];
    if (inString) {
      if (c == '\\') {
        ++at;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      values += c == '[' && depth < JSON_TOKENER_DEFAULT_DEPTH ? 1 : 0;
      ++depth;
    } else if (c == ']' || c == '}') {
      --depth;
    } else if ((c == ',' || c == ':') && depth <= JSON_TOKENER_DEFAULT_DEPTH) {
      ++values;
    }
  }
  return values;
}

// Whether the text, after blanks and comments, begins with json-c's null, which parses to no
// value without any failure.
bool BeginsWithNull(const std::string& text, size_t at) {
  while (at < text.size()) {
    const char c = text[at];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      ++at;
    } else if (text.compare(at, 2, "//") == 0) {
      at = text.find('\n', at);
    } else if (text.compare(at, 2, "/*") == 0) {
      at = text.find("*/", at + 2);
      at = at == std::string::npos ? at : at + 2;
    } else {
      return c == 'n' || c == 'N';
    }
  }
  return false;
}

// Parses `text` from `at` as json-c's default parse does. json-c gives no value and no error
// when it runs out of memory: that is thrown, as every exhaustion is, never read as a text that
// is not JSON (which would drop the product without a word).
json_object* Parse(const std::string& text, size_t at) {
  enum json_tokener_error error = json_tokener_success;
  json_object* parsed = json_tokener_parse_verbose(text.c_str() + at, &error);
  if (parsed == nullptr && (error == json_tokener_success || error == json_tokener_continue) &&
      !BeginsWithNull(text, at)) {
    throw std::bad_alloc();
  }
  return parsed;
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
  RegularFile file = OpenRegularFile(path);
  return ParseOpenedFile(file, path, result, message);
}

bool JsonNode::ParseOpenedFile(RegularFile& file, const std::string& path, json_object** result,
                               std::string& message) {
  const bool regular = file.outcome == RegularFile::Outcome::kOpened;
  const bool tooLarge = regular && file.status.st_size > kLargestFile;
  std::string text;
  const bool whole =
      regular && !tooLarge && ReadWhole(file.fd, static_cast<size_t>(file.status.st_size), text);
  if (file.fd >= 0) {
    close(file.fd);
    file.fd = -1;
  }
  const bool tooMany = whole && MostValues(text) > kMostValues;
  if (!whole || tooMany) {
    message = file.outcome == RegularFile::Outcome::kUnreachable
                  ? FileMessage("Cannot obtain length of file ", path)
              : tooLarge ? FileMessage("File ", path, " is larger than 16 MiB")
              : tooMany  ? FileMessage("File ", path, " holds more than 100000 JSON values")
                         : FileMessage("Cannot read file ", path);
    return false;
  }
  // RFC 8259 lets a parser ignore a byte-order mark, which json-c does not.
  const size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  *result = Parse(text, start);
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
