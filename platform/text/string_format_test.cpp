#include "platform/text/string_format.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(StringFormat, FillsDirectivesInOrder) {
  struct Case {
    std::string format;
    std::vector<std::string> values;
    std::optional<std::string> result;
    std::size_t directives;
  };
  const Case cases[] = {
      {"", {}, "", 0},
      {"no directive", {"unused"}, "no directive", 0},
      {"%@ and %@", {"a", "b"}, "a and b", 2},
      {"%@%@", {"", "x"}, "x", 2},
      {"100%% of %@", {"it"}, "100% of it", 1},
      {"%%@ is no directive", {}, "%@ is no directive", 0},
      {"%%%@", {"v"}, "%v", 1},
      {"printf '%s' %d %", {}, "printf '%s' %d %", 0},
      {"trailing %", {}, "trailing %", 0},
      {"a value is not read again: %@", {"%@ %%"}, "a value is not read again: %@ %%", 1},
      {"%@ %@", {"only one"}, std::nullopt, 2},
      {"%@", {}, std::nullopt, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StringWithFormat(c.format, c.values), c.result) << c.format;
    EXPECT_EQ(CountStringDirectives(c.format), c.directives) << c.format;
  }
}

TEST(StringFormat, RendersEachValue) {
  auto bracket = [](std::string_view v) { return "[" + std::string(v) + "]"; };
  EXPECT_EQ(StringWithFormat("%@=%@;%%", {"k", "v"}, bracket), "[k]=[v];%");
}

}  // namespace
}  // namespace platform
