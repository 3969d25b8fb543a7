#include "ProductMap.h"

#include <algorithm>
#include <cstdint>

#include "JsonNode.h"
#include "JsonText.h"

namespace {

// Where the family's packages install, whichever package manager put them there.
constexpr std::string_view kInstallPath = "/opt/corva/zorvex";

const char* const kEmptyMap = "{ }";

// Opens a report node in json-c's spaced form: the quoted `name`, then its object up to the start
// of the "Value" member's value. The caller appends the value and closes the node with " }".
void OpenNode(std::string& out, std::string_view name, bool verbose) {
  AppendJsonString(out, name);
  out += verbose ? ": { \"Verbosity\": 1, \"RetVal\": " : ": { \"RetVal\": ";
  AppendJsonString(out, JsonNode::kInfo);
  out += ", \"Value\": ";
}

// How far ahead of the reading a loop over scattered data asks for it.
constexpr size_t kAhead = 8;

// Eight bytes of a summary from `depth` on, big-endian so that the number orders as the bytes do,
// with zeros past its end; `rest` (the bytes left, 9 for more than eight) orders a summary before
// the longer ones it begins.
struct SortKey {
  uint64_t bytes;
  uint32_t rest;
  uint32_t index;
};

SortKey KeyAt(std::string_view text, size_t depth, uint32_t index) {
  constexpr size_t kWidth = sizeof(uint64_t);
  const size_t left = text.size() - std::min(depth, text.size());
  uint64_t bytes = 0;
  for (size_t at = 0; at < kWidth; ++at) {
    bytes = bytes << 8 | (at < left ? static_cast<unsigned char>(text[depth + at]) : 0u);
  }
  return {bytes, static_cast<uint32_t>(std::min(left, kWidth + 1)), index};
}

// The indexes of distinct `summaries` in plain byte order. Sorted eight bytes at a time, beside
// the summaries: each comparison reads two adjacent keys instead of two strings scattered on the
// heap, and only runs that tie read their summaries again, eight bytes further on.
std::vector<uint32_t> ByteOrder(const std::vector<std::string_view>& summaries) {
  std::vector<SortKey> keys;
  keys.reserve(summaries.size());
  for (uint32_t index = 0; index < summaries.size(); ++index) {
    keys.push_back(KeyAt(summaries[index], 0, index));
  }
  const auto before = [](const SortKey& a, const SortKey& b) {
    return a.bytes < b.bytes || (a.bytes == b.bytes && a.rest < b.rest);
  };
  const auto tie = [](const SortKey& a, const SortKey& b) {
    return a.bytes == b.bytes && a.rest == b.rest;
  };
  struct Run {
    size_t first, last, depth;
  };
  std::vector<Run> pending{{0, keys.size(), 0}};  // a stack: a long shared prefix is no recursion
  while (!pending.empty()) {
    const Run run = pending.back();
    pending.pop_back();
    for (size_t at = run.first; run.depth > 0 && at < run.last; ++at) {
      // The run is in key order, its summaries anywhere: ask for them ahead.
      if (at + 2 * kAhead < run.last) {
        __builtin_prefetch(&summaries[keys[at + 2 * kAhead].index]);
      }
      if (at + kAhead < run.last) {
        __builtin_prefetch(summaries[keys[at + kAhead].index].data() + run.depth);
      }
      keys[at] = KeyAt(summaries[keys[at].index], run.depth, keys[at].index);
    }
    // A run often ties throughout, at a stretch of text its summaries share: then it needs no sort.
    SortKey* const begin = keys.data() + run.first;
    SortKey* const end = keys.data() + run.last;
    if (!std::is_sorted(begin, end, before)) {
      std::sort(begin, end, before);
    }
    for (size_t first = run.first, last = first; first < run.last; first = last) {
      while (last < run.last && tie(keys[first], keys[last])) {
        ++last;
      }
      if (last - first > 1 && keys[first].rest > sizeof(uint64_t)) {
        pending.push_back({first, last, run.depth + sizeof(uint64_t)});
      }
    }
  }
  std::vector<uint32_t> order(keys.size());
  std::transform(keys.begin(), keys.end(), order.begin(),
                 [](const SortKey& key) { return key.index; });
  return order;
}

}  // namespace

ProductMap::ProductMap(const ProductTable& table) {
  // The text is written once into room for all of it: each regrowth of a text of tens of
  // megabytes copies it, into memory that was never touched.
  constexpr size_t kNodeBytes = 384;  // the fixed text of one node is 361 bytes
  size_t bytes = 0;
  rememberNames_ = false;
  std::vector<std::string_view> summaries;
  summaries.reserve(table.size());
  for (size_t place = 0; place < table.size(); ++place) {  // the order they lie in memory
    const Product product = table[place];
    summaries.push_back(product.summary);
    bytes += kNodeBytes + product.summary.size() + product.packages.size() +
             2 * product.version.size() + product.architecture.size();
    rememberNames_ = rememberNames_ || product.summary.find('\0') != std::string_view::npos;
  }
  ReserveText(text_, bytes);
  const std::vector<uint32_t> order = ByteOrder(summaries);
  for (size_t place = 0; place < order.size(); ++place) {
    // In sorted order a large table's products lie anywhere, out of cache: each is asked for
    // ahead, and its texts once it has come.
    if (place + 2 * kAhead < order.size()) {
      table.FetchEntry(order[place + 2 * kAhead]);
    }
    if (place + kAhead < order.size()) {
      table.FetchTexts(order[place + kAhead]);
    }
    const Product product = table[order[place]];
    AddNode(product.summary,
            {{"Packages", true, product.packages},
             {"Version", false, product.version.substr(0, product.version.find('-'))},
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

void ProductMap::AddNode(std::string_view name, std::initializer_list<Detail> details) {
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
  // json-c takes a name up to its first NUL.
  const auto known = places_.emplace(name.substr(0, name.find('\0')), spans_.size());
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
