#include "ProductMap.h"

#include <algorithm>

#include "JsonNode.h"
#include "JsonText.h"

namespace {

// Where the family's packages install, whichever package manager put them there.
const std::string kInstallPath = "/opt/corva/zorvex";

const char* const kEmptyMap = "{ }";

// Opens a report node in json-c's spaced form: the quoted `name`, then its object up to the start
// of the "Value" member's value. The caller appends the value and closes the node with " }".
void OpenNode(std::string& out, std::string_view name, bool verbose) {
  AppendJsonString(out, name);
  out += verbose ? ": { \"Verbosity\": 1, \"RetVal\": " : ": { \"RetVal\": ";
  AppendJsonString(out, JsonNode::kInfo);
  out += ", \"Value\": ";
}

}  // namespace

ProductMap::ProductMap(const ProductTable& table) {
  // Sorted once, beside views of the summaries: the comparisons read the summaries without the
  // products, which a large table has out of cache. Summaries are distinct, so none tie.
  std::vector<std::pair<std::string_view, const Product*>> sorted;
  // The text is written once into room for all of it: each regrowth of a text of tens of
  // megabytes copies it, into memory that was never touched.
  constexpr size_t kNodeBytes = 384;  // the fixed text of one node is 361 bytes
  size_t bytes = 0;
  rememberNames_ = false;
  for (const Product& product : table) {  // in listing order, the order they lie in memory
    sorted.emplace_back(product.summary, &product);
    bytes += kNodeBytes + product.summary.size() + product.packages.size() +
             2 * product.version.size() + product.architecture.size();
    rememberNames_ = rememberNames_ || product.summary.find('\0') != std::string::npos;
  }
  std::sort(sorted.begin(), sorted.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  ReserveText(text_, bytes);
  for (const auto& entry : sorted) {
    const Product& product = *entry.second;
    const std::string shortVersion = product.version.substr(0, product.version.find('-'));
    AddNode(product.summary, {{"Packages", true, product.packages},
                              {"Version", false, shortVersion},
                              {"Full Version", true, product.version},
                              {"Architecture", true, product.architecture},
                              {"Path", true, kInstallPath}});
  }
}

void ProductMap::Add(const std::string& name, const InstallerProduct& product) {
  AddNode(name, {{"Product ID", true, product.id},
                 {"Version", false, product.version},
                 {"Full Version", true, product.fullVersion},
                 {"Description", true, product.description},
                 {"Path", true, product.path}});
}

void ProductMap::AddNode(const std::string& name, std::initializer_list<Detail> details) {
  text_ += text_.size() == 1 ? " " : ", ";
  const size_t start = text_.size();
  OpenNode(text_, name, false);
  text_ += "{ ";
  for (const Detail& detail : details) {
    if (&detail != details.begin()) {
      text_ += ", ";
    }
    OpenNode(text_, detail.name, detail.verbose);
    AppendJsonString(text_, detail.value);
    text_ += " }";
  }
  text_ += " } }";
  if (!rememberNames_) {
    return;
  }
  const std::pair<size_t, size_t> span(start, text_.size());
  const auto known = places_.emplace(name.c_str(), spans_.size());
  if (known.second) {
    spans_.push_back(span);
  } else {
    spans_[known.first->second] = span;
    reordered_ = true;
  }
}

std::string ProductMap::Text() && {
  if (reordered_) {
    std::string text = "{";
    for (const auto& span : spans_) {
      text += text.size() == 1 ? " " : ", ";
      text.append(text_, span.first, span.second - span.first);
    }
    text_ = std::move(text);
  }
  text_ += " }";
  return std::move(text_);
}

void SpliceMap(std::string& merged, const std::string& map) {
  if (merged.empty() || merged == kEmptyMap) {
    merged = map;
  } else if (map != kEmptyMap && !map.empty()) {
    merged.pop_back();
    merged += ',';
    merged.append(map, 1, std::string::npos);
  }
}
