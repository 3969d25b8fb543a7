#include "ProductMap.h"

#include <cstring>

#include "JsonNode.h"
#include "JsonText.h"

namespace {

// Where the family's packages install, whichever package manager put them there.
const std::string kInstallPath = "/opt/corva/zorvex";

const char* const kEmptyMap = "{ }";

std::string ShortVersion(const std::string& version) {
  return version.substr(0, version.find('-'));
}

}  // namespace

void ProductMap::Add(const std::string& name, const Product& product) {
  const size_t start = OpenMember();
  AppendSpacedObjectNode(text_, name, JsonNode::kInfo,
                         {{"Packages", 1, product.packages},
                          {"Version", 0, ShortVersion(product.version)},
                          {"Full Version", 1, product.version},
                          {"Architecture", 1, product.architecture},
                          {"Path", 1, kInstallPath}});
  Place(name, start);
}

void ProductMap::Add(const std::string& name, const InstallerProduct& product) {
  const size_t start = OpenMember();
  AppendSpacedObjectNode(text_, name, JsonNode::kInfo,
                         {{"Product ID", 1, product.id},
                          {"Version", 0, product.version},
                          {"Full Version", 1, product.fullVersion},
                          {"Description", 1, product.description},
                          {"Path", 1, product.path}});
  Place(name, start);
}

size_t ProductMap::OpenMember() {
  text_ += text_.size() == 1 ? " " : ", ";
  return text_.size();
}

void ProductMap::Place(const std::string& name, size_t memberStart) {
  if (names_ == Names::kDistinct) {
    return;
  }
  const auto known = places_.emplace(name.c_str(), spans_.size());
  if (known.second) {
    spans_.emplace_back(memberStart, text_.size());
    return;
  }
  replaced_[known.first->second] = text_.substr(memberStart);
  constexpr size_t kSeparator = 2;
  text_.resize(memberStart - kSeparator);
}

std::string ProductMap::Text() && {
  if (!replaced_.empty()) {
    std::string text = "{";
    for (size_t place = 0; place < spans_.size(); ++place) {
      text += place == 0 ? " " : ", ";
      const auto later = replaced_.find(place);
      if (later != replaced_.end()) {
        text += later->second;
      } else {
        text.append(text_, spans_[place].first, spans_[place].second - spans_[place].first);
      }
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
