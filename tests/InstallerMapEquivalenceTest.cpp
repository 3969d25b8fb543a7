// The installer source's directly written product map against the json-c tree of report nodes
// that it stands for, on generated databases: titles of every kind, titles given twice,
// components without title, description or version, invisible components.
#include <gtest/gtest.h>

#include <random>

#include "BInstallerChecker.h"
#include "TestSupport.h"

using testsupport::InstallerComponent;
using testsupport::LocalizedEntry;
using testsupport::TempDir;

namespace {

struct Component {
  std::string id;
  std::string version;
  bool visible = true;
  std::optional<std::string> title;
  std::optional<std::string> description;
  std::optional<std::string> shortVersion;
};

// The map as a json-c tree of report nodes, in ID, VERSION order, serialised.
std::string TreeText(std::vector<Component> components, const std::string& installDir) {
  std::sort(components.begin(), components.end(), [](const Component& a, const Component& b) {
    return std::tie(a.id, a.version) < std::tie(b.id, b.version);
  });
  std::vector<testsupport::InstallerProduct> products;
  for (const Component& component : components) {
    if (component.visible) {
      products.push_back({component.title.value_or(component.id), component.id,
                          component.shortVersion.value_or(""), component.version,
                          component.description.value_or(""), installDir});
    }
  }
  return testsupport::InstallerMap(products);
}

std::optional<std::string> Maybe(std::mt19937& random, const std::string& text) {
  if (random() % 5 == 0) {
    return std::nullopt;
  }
  return text;
}

TEST(InstallerMapEquivalence, SameTextAsTheJsonCTree) {
  std::mt19937 random(23);
  static const char* const kTitles[] = {"Zorvex Compiler", "Zorvex \"Runtime\" / libs",
                                        "z\xc3\xa9\tline\nfeed", "Zorvex Compiler ", "\x01\x1f"};
  for (int round = 0; round < 20; ++round) {
    const TempDir dir;
    const std::string cache = dir.path() + "/cache/";
    const std::string installDir = "/opt/corva/\"zorvex\"\\" + std::to_string(round);
    std::vector<Component> components;
    std::vector<InstallerComponent> rows;
    for (int index = 0; index < 12; ++index) {
      Component component;
      // One folder name each: an identifier holding "/" names no manifest. The titles and the
      // installation folder still carry "/" for json-c to escape.
      component.id = "c" + std::to_string(random() % 6) + "\\x";
      component.version = std::to_string(index) + "-r";
      component.visible = random() % 6 != 0;
      component.title = Maybe(random, kTitles[random() % 5]);
      component.description = Maybe(random, "About \\ " + std::to_string(index));
      component.shortVersion = Maybe(random, "v" + std::to_string(index));
      components.push_back(component);
      rows.push_back({component.id, component.version});
      testsupport::WriteManifest(
          cache, component.id, component.version,
          testsupport::ManifestJson(component.visible,
                                    {LocalizedEntry{"en-us", component.title, component.description,
                                                    component.shortVersion}}));
    }
    const std::string database = testsupport::CreateInstallerDatabase(cache, installDir, rows);
    std::string text;
    ASSERT_TRUE(BInstallerChecker::GetAppInfo(database, cache, text)) << text;
    EXPECT_EQ(text, TreeText(components, installDir));
  }
}

}  // namespace
