#ifndef ZORVEX_PRODUCT_H
#define ZORVEX_PRODUCT_H

#include <cstdint>
#include <numeric>
#include <string>
#include <string_view>
#include <vector>

#include "HashIndex.h"

// One product as a package source sees it: the packages that share one description. Views into
// the ProductTable that holds it, valid while the table lives and is not added to.
struct Product {
  std::string_view summary;       // the description as assembled from a listing line; the key
  std::string_view version;       // full version of the first package listed with this summary
  std::string_view architecture;  // architecture of the first package listed with this summary
  std::string_view packages;      // names of all packages with this summary, ", "-joined
};

// The products of one listing by summary, gathered in listing order; the product map puts them in
// order only once, at the end: an ordered tree of a hundred thousand products costs a cache miss
// at every step. A product's texts lie side by side in one buffer, written in listing order, so
// that a large table costs no allocation per product and reading one product touches one place.
class ProductTable {
 public:
  // `lines` and `bytes`: how many packages, and bytes of text, the listing may file at most, so
  // that the room is made once.
  explicit ProductTable(size_t lines = 0, size_t bytes = 0) : index_(lines) {
    entries_.reserve(lines);
    texts_.reserve(bytes);
  }

  // Files one listed package under `summary`: a new product takes its version and architecture;
  // an existing one only gains its name.
  void Add(std::string_view summary, std::string_view name, std::string_view version,
           std::string_view architecture) {
    const uint32_t found =
        index_.FindOrFile(HashIndex::Hash(summary), static_cast<uint32_t>(entries_.size() + 1),
                          [&](uint32_t place) { return Text(entries_[place - 1], 0) == summary; });
    if (found != 0) {
      AddName(entries_[found - 1], name);
      return;
    }
    Entry entry{texts_.size(), {summary.size(), version.size(), architecture.size(), name.size()}};
    texts_.append(summary).append(version).append(architecture).append(name);
    entries_.push_back(entry);
  }

  bool empty() const { return entries_.empty(); }
  size_t size() const { return entries_.size(); }

  // The product filed `place`-th, counting from 0.
  Product operator[](size_t place) const {
    const Entry& entry = entries_[place];
    return {Text(entry, 0), Text(entry, 1), Text(entry, 2),
            entry.joined != 0 ? std::string_view(joined_[entry.joined - 1]) : Text(entry, 3)};
  }

  // Ask for the product filed `place`-th ahead of reading it: its entry, then, once that has come,
  // its texts.
  void FetchEntry(size_t place) const { __builtin_prefetch(&entries_[place]); }
  void FetchTexts(size_t place) const {
    __builtin_prefetch(texts_.data() + entries_[place].offset);
  }

 private:
  struct Entry {
    size_t offset;        // of the summary, followed by version, architecture and first name
    size_t length[4];     // of each
    uint32_t joined = 0;  // 1 + the place of the joined names in joined_, 0 for one package
  };

  std::string_view Text(const Entry& entry, size_t part) const {
    const size_t at = std::accumulate(entry.length, entry.length + part, entry.offset);
    return std::string_view(texts_).substr(at, entry.length[part]);
  }

  // A product of several packages, rare, keeps their joined names apart.
  void AddName(Entry& entry, std::string_view name) {
    if (entry.joined == 0) {
      joined_.emplace_back(Text(entry, 3));
      entry.joined = static_cast<uint32_t>(joined_.size());
    }
    joined_[entry.joined - 1].append(", ").append(name);
  }

  std::vector<Entry> entries_;
  std::string texts_;
  std::vector<std::string> joined_;
  HashIndex index_;  // by summary
};

#endif  // ZORVEX_PRODUCT_H
