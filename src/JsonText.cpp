#include "JsonText.h"

#include <sys/mman.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "HashIndex.h"

namespace {

const char kHexDigits[] = "0123456789abcdef";

// The escape json-c writes for a byte, or null for a byte it writes as it is.
const char* ShortEscape(unsigned char c) {
  static const char kBytes[] = "\b\n\r\t\f\"\\/";
  static const char* const kEscapes[] = {"\\b", "\\n", "\\r", "\\t", "\\f", "\\\"", "\\\\", "\\/"};
  const char* const at = c != '\0' ? std::strchr(kBytes, c) : nullptr;
  return at != nullptr ? kEscapes[at - kBytes] : nullptr;
}

// The bytes that json-c escapes in a string (below 32, the quote, the backslash and "/"): where a
// scan of a written string must stop to look.
constexpr std::array<bool, 256> MakeNeedsLook() {
  std::array<bool, 256> table{};
  for (int c = 0; c < 256; ++c) {
    table[c] = c < 0x20 || c == '"' || c == '\\' || c == '/';
  }
  return table;
}
constexpr std::array<bool, 256> kNeedsLook = MakeNeedsLook();

// The place of the first byte of `bytes` from `at` on that kNeedsLook marks, or `size`. Eight bytes
// are tested at a time: the texts are mostly plain, and a test per byte cost more than writing
// them.
size_t NextToLook(const char* bytes, size_t at, size_t size) {
  constexpr uint64_t kOnes = 0x0101010101010101;
  constexpr uint64_t kHighBits = 0x8080808080808080;
  // The high bit of each byte of `word` that is below `bound` (at most 128); the lowest one set
  // is exact, as no borrow reaches a byte below it.
  const auto below = [](uint64_t word, uint64_t bound) {
    return (word - kOnes * bound) & ~word & kHighBits;
  };
  for (; at + sizeof(uint64_t) <= size; at += sizeof(uint64_t)) {
    uint64_t word = 0;
    std::memcpy(&word, bytes + at, sizeof word);
    const uint64_t found = below(word, 0x20) | below(word ^ (kOnes * '"'), 1) |
                           below(word ^ (kOnes * '\\'), 1) | below(word ^ (kOnes * '/'), 1);
    if (found != 0) {
      return at + static_cast<size_t>(__builtin_ctzll(found)) / 8;  // bytes load low first
    }
  }
  while (at < size && !kNeedsLook[static_cast<unsigned char>(bytes[at])]) {
    ++at;
  }
  return at;
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

int HexValue(char c) { return c <= '9' ? c - '0' : c - 'a' + 10; }

// The member names of one object, to find a name given twice: json-c's parser would keep one
// member for it, so such a text takes the parser's road. The names stand on a stack that the
// reader's objects share, each object's above those of the objects around it, so that the many
// small objects cost no allocation; small objects are searched in place.
class NameSet {
 public:
  explicit NameSet(std::vector<std::string_view>& stack) : stack_(stack), start_(stack.size()) {}
  NameSet(const NameSet&) = delete;
  NameSet& operator=(const NameSet&) = delete;
  ~NameSet() { stack_.resize(start_); }

  bool Insert(std::string_view name) {
    constexpr size_t kLinearLimit = 16;
    const size_t count = stack_.size() - start_;
    if (count < kLinearLimit) {
      for (size_t at = start_; at < stack_.size(); ++at) {
        if (stack_[at] == name) {
          return false;
        }
      }
    } else {
      if (count == kLinearLimit) {
        for (size_t at = start_; at < stack_.size(); ++at) {
          Find(stack_[at], at);
        }
      }
      if (Find(name, stack_.size()) != 0) {
        return false;
      }
    }
    stack_.push_back(name);
    return true;
  }

 private:
  // The place of `name` among the names filed, or 0 after filing it as the one `at` the stack.
  uint32_t Find(std::string_view name, size_t at) {
    return large_.FindOrFile(HashIndex::Hash(name), static_cast<uint32_t>(at - start_ + 1),
                             [&](uint32_t place) { return stack_[start_ + place - 1] == name; });
  }

  std::vector<std::string_view>& stack_;
  const size_t start_;
  HashIndex large_;  // filled once the object grows past the linear search
};

// Reads a text in json-c's spaced form and writes the same values in its pretty form. Every
// accepted text is one that json-c itself writes, so that parsing and writing it again could not
// give other bytes: strings in json-c's own escaping, integers without leading zeros.
class SpacedReader {
 public:
  SpacedReader(std::string_view text, std::string& out, int level)
      : text_(text), out_(out), base_(level) {}

  // The whole text must be one object.
  bool Document() {
    SkipBlanks();
    if (!Object(base_)) {
      return false;
    }
    SkipBlanks();
    return position_ == text_.size();
  }

  // The text and then `second` as the one object that splicing them makes (the text without its
  // last byte, a comma, `second` without its first), without making it. Each must hold members.
  bool Spliced(std::string_view second) {
    NameSet names(names_);
    size_t members = 0;
    out_ += '{';
    SkipBlanks();
    if (!Members(base_, names, members) || position_ != text_.size() || members == 0) {
      return false;
    }
    const size_t firstMembers = members;
    text_ = second;
    position_ = 0;
    if (!Members(base_, names, members) || members == firstMembers) {
      return false;
    }
    SkipBlanks();
    if (position_ != text_.size()) {
      return false;
    }
    Close(base_);
    return true;
  }

 private:
  static constexpr int kDepthLimit = 16;

  bool Take(char expected) {
    if (position_ >= text_.size() || text_[position_] != expected) {
      return false;
    }
    ++position_;
    return true;
  }

  // Blanks between the tokens: the parser skips them and the pretty form writes its own. Two
  // spliced maps hold " , " between their members.
  void SkipBlanks() {
    while (position_ < text_.size() && text_[position_] == ' ') {
      ++position_;
    }
  }

  char Peek() const { return position_ < text_.size() ? text_[position_] : '\0'; }

  void Indent(int level) { out_.append(2 * static_cast<size_t>(level), ' '); }

  bool Object(int level) {
    if (level - base_ >= kDepthLimit) {
      return false;
    }
    NameSet names(names_);
    size_t members = 0;
    out_ += '{';
    if (!Members(level, names, members)) {
      return false;
    }
    Close(level);
    return true;
  }

  // An object's "{", members and "}", its members written behind the `members` already written
  // with the names `names`.
  bool Members(int level, NameSet& names, size_t& members) {
    if (!Take('{')) {
      return false;
    }
    SkipBlanks();
    if (Peek() != '}') {
      do {
        out_ += members++ == 0 ? "\n" : ",\n";
        Indent(level + 1);
        SkipBlanks();
        if (!Member(level, names)) {
          return false;
        }
        SkipBlanks();
      } while (Take(','));
    }
    return Take('}');
  }

  void Close(int level) {
    out_ += '\n';
    Indent(level);
    out_ += '}';
  }

  bool Member(int level, NameSet& names) {
    const size_t nameStart = position_;
    if (!String(true) || !names.Insert(text_.substr(nameStart, position_ - nameStart))) {
      return false;
    }
    SkipBlanks();
    if (!Take(':')) {
      return false;
    }
    SkipBlanks();
    out_ += ':';
    return Value(level + 1);
  }

  bool Value(int level) {
    const char c = Peek();
    if (c == '{') {
      return Object(level);
    }
    if (c == '"') {
      return String(false);
    }
    return Integer();
  }

  // A string as json-c escapes it, copied as it is. A member name may not hold "\u0000", which
  // json-c's parser would cut the name at.
  bool String(bool name) {
    const size_t start = position_;
    if (!Take('"')) {
      return false;
    }
    const char* const bytes = text_.data();
    const size_t size = text_.size();
    while ((position_ = NextToLook(bytes, position_, size)) < size) {
      if (bytes[position_] == '"') {
        ++position_;
        out_.append(text_, start, position_ - start);
        return true;
      }
      if (bytes[position_] != '\\' || !Escape(name)) {
        return false;
      }
    }
    return false;
  }

  // At a backslash: only the escapes that json-c writes, each for the byte it writes it for.
  bool Escape(bool name) {
    const char kind = position_ + 1 < text_.size() ? text_[position_ + 1] : '\0';
    if (kind != 'u') {
      if (kind == '\0' || std::strchr("\"\\/bfnrt", kind) == nullptr) {
        return false;
      }
      position_ += 2;
      return true;
    }
    if (position_ + 6 > text_.size() || text_.compare(position_ + 2, 2, "00") != 0 ||
        !IsHexDigit(text_[position_ + 4]) || !IsHexDigit(text_[position_ + 5])) {
      return false;
    }
    const int value = HexValue(text_[position_ + 4]) * 16 + HexValue(text_[position_ + 5]);
    if (value >= 0x20 || ShortEscape(static_cast<unsigned char>(value)) != nullptr ||
        (name && value == 0)) {
      return false;
    }
    position_ += 6;
    return true;
  }

  // An integer as json-c writes a 64-bit one; 18 digits at most, so it is surely in range.
  bool Integer() {
    const size_t start = position_;
    Take('-');
    const size_t digits = position_;
    while (position_ < text_.size() && text_[position_] >= '0' && text_[position_] <= '9') {
      ++position_;
    }
    const size_t count = position_ - digits;
    if (count == 0 || count > 18 || (text_[digits] == '0' && (count > 1 || digits > start))) {
      return false;
    }
    out_.append(text_, start, position_ - start);
    return true;
  }

  std::string_view text_;
  std::string& out_;
  const int base_;
  size_t position_ = 0;
  std::vector<std::string_view> names_;  // the stack of the NameSets
};

}  // namespace

void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  const char* const bytes = text.data();
  size_t pending = 0;
  size_t at = NextToLook(bytes, 0, text.size());
  for (; at < text.size() && bytes[at] != '\0'; at = NextToLook(bytes, at + 1, text.size())) {
    const unsigned char c = static_cast<unsigned char>(bytes[at]);
    out.append(bytes + pending, at - pending);
    pending = at + 1;
    if (const char* escape = ShortEscape(c)) {
      out += escape;
    } else {
      out += "\\u00";
      out += kHexDigits[c >> 4];
      out += kHexDigits[c & 0xf];
    }
  }
  out.append(bytes + pending, at - pending);
  out += '"';
}

void ReserveText(std::string& text, size_t bytes) {
  constexpr size_t kHugePage = size_t{2} << 20;
  if (bytes <= text.capacity()) {
    return;
  }
  text.reserve(bytes);
  if (bytes >= 2 * kHugePage) {
    // Only whole pages of the buffer; a system without huge pages refuses and nothing changes.
    constexpr size_t kPage = 4096;
    const size_t skip = (kPage - reinterpret_cast<uintptr_t>(text.data()) % kPage) % kPage;
    madvise(text.data() + skip, (text.capacity() - skip) / kPage * kPage, MADV_HUGEPAGE);
  }
}

bool SpacedToPretty(const std::string& spaced, int level, std::string& out) {
  const size_t kept = out.size();
  // The pretty form adds a line feed and indentation per member.
  ReserveText(out, kept + 2 * spaced.size());
  SpacedReader reader(spaced, out, level);
  if (!reader.Document()) {
    out.resize(kept);
    return false;
  }
  return true;
}

bool SplicedToPretty(const std::string& first, const std::string& second, int level,
                     std::string& out) {
  const size_t kept = out.size();
  ReserveText(out, kept + 2 * (first.size() + second.size()));
  SpacedReader reader(first, out, level);
  if (!reader.Spliced(second)) {
    out.resize(kept);
    return false;
  }
  return true;
}
