#ifndef ZORVEX_JSON_NODE_H
#define ZORVEX_JSON_NODE_H

#include <json-c/json.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "RegularFile.h"

// Builds the report's nodes and reads JSON files. All operations are static; no JsonNode object
// is ever created.
//
// A report node is a member of a parent object whose value holds, in this order: "Message" (only
// when the message is not empty), "Command" (only when not empty), "Verbosity" (only when not 0),
// "RetVal" (always) and "Value" (always). Every value created or passed in is handed to the tree:
// the node and its payload belong to the parent. Adding a name that the parent already holds
// replaces that member's value in place and releases the old one. Texts are taken up to their
// first NUL character.
class JsonNode {
 public:
  virtual ~JsonNode() = default;

  // The status word of every node this check writes.
  static constexpr const char* kInfo = "INFO";

  // Adds `root` to the outermost object `top` as its member "Value".
  static void AddJsonTopNode(json_object* top, json_object* root);

  // The general forms: every member given. An empty message or command, or a verbosity of 0,
  // leaves that member out. A null `value` is written as JSON null.
  static void AddJsonNode(json_object* parent, std::string name, std::string retVal,
                          std::string message, std::string command, unsigned int verbosity,
                          json_object* value);
  static void AddJsonNode(json_object* parent, std::string name, std::string retVal,
                          std::string message, std::string command, unsigned int verbosity,
                          std::string value);
  // The unsigned value is written as a 64-bit JSON integer, so it is never negative.
  static void AddJsonNode(json_object* parent, std::string name, std::string retVal,
                          std::string message, std::string command, unsigned int verbosity,
                          unsigned int value);

  // The short forms: no message and no command; verbosity 0 where none is given. With a single
  // unsigned number after the status word, that number is the value, not the verbosity.
  static void AddJsonNode(json_object* parent, std::string name, std::string retVal,
                          json_object* value);
  static void AddJsonNode(json_object* parent, std::string name, std::string retVal,
                          unsigned int verbosity, json_object* value);
  static void AddJsonNode(json_object* parent, std::string name, std::string retVal,
                          std::string value);
  static void AddJsonNode(json_object* parent, std::string name, std::string retVal,
                          unsigned int verbosity, std::string value);
  static void AddJsonNode(json_object* parent, std::string name, std::string retVal,
                          unsigned int value);
  static void AddJsonNode(json_object* parent, std::string name, std::string retVal,
                          unsigned int verbosity, unsigned int value);

  // Reads the regular file at `path` and parses it as one JSON text. Returns true when the file
  // was read; `*result` then holds the parsed value (one reference, owned by the caller), or null
  // when the text is not valid JSON. Returns false, with the reason in `message` and `*result`
  // untouched, when the file cannot be opened or measured ("Cannot obtain length of file ...") or
  // is empty or not a regular file ("Cannot read file ..."), or is larger than 16 MiB ("File ...
  // is larger than 16 MiB"). Never blocks on a FIFO or device.
  // A file that may hold more values than a manifest ever does (more than 100,000) fails too ("File
  // ... holds more than 100000 JSON values"); a leading byte-order mark is skipped. Running out of
  // memory while parsing throws std::bad_alloc.
  static bool ParseFile(std::string path, json_object** result, std::string& message);
  // The same for a `file` that the caller opened with OpenRegularFile (whatever came of it), named
  // `path` in the messages. Closes its descriptor.
  static bool ParseOpenedFile(RegularFile& file, const std::string& path, json_object** result,
                              std::string& message);

  // Follows the "/"-separated member names of `path` from `root`. Returns the value reached,
  // borrowed from the tree, or null when any step finds no object or no such member. The empty
  // path names the member "" of the root, not the root itself.
  static json_object* GetObject(json_object* root, std::string path);

  // Splits `text` at the matches of the ECMAScript regular expression `delimiter`, as
  // SplitAtPattern does.
  static std::vector<std::string> SplitString(std::string text, std::string delimiter);
};

#endif  // ZORVEX_JSON_NODE_H
