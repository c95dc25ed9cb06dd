#include "platform/macos/portable/value_shapes.h"

#include <gtest/gtest.h>

namespace kestrove::platform::macos {
namespace {

class FakeElement : public ElementRef {
 public:
  bool equals(const ElementRef& other) const override { return this == &other; }
};

TEST(MacValueShapes, ListIsElementsOnlyWhenEveryEntryWasOne) {
  std::vector<Element> two = {std::make_shared<FakeElement>(), std::make_shared<FakeElement>()};

  Value all = listValue(two, 2);
  ASSERT_TRUE(std::holds_alternative<std::vector<Element>>(all));
  EXPECT_EQ(std::get<std::vector<Element>>(all), two);

  // A third entry that was a string, say: the two elements must not pass for the list.
  EXPECT_TRUE(std::holds_alternative<NonElementList>(listValue(two, 3)));
  EXPECT_TRUE(std::holds_alternative<NonElementList>(listValue({}, 1)));

  // An application without windows answers an empty list of elements.
  Value empty = listValue({}, 0);
  ASSERT_TRUE(std::holds_alternative<std::vector<Element>>(empty));
  EXPECT_TRUE(std::get<std::vector<Element>>(empty).empty());
}

TEST(MacValueShapes, PointAndSizeCarryTheirDoublesOtherTypesNone) {
  using Pair = std::optional<std::pair<double, double>>;
  struct Case {
    const char* what;
    int type;
    Pair pair;
    AxValue expected;
  };
  const Case cases[] = {
      {"point", 1, Pair{{-10.5, 25.25}}, {1, -10.5, 25.25}},
      {"size", 2, Pair{{1280, 720.5}}, {2, 1280, 720.5}},
      // Could not be got out: must not read as a point at the origin.
      {"unreadable point", 1, std::nullopt, {0, 0, 0}},
      {"unreadable size", 2, std::nullopt, {0, 0, 0}},
      {"rect", 3, std::nullopt, {3, 0, 0}},
      {"range", 4, Pair{{1, 2}}, {4, 0, 0}},
      {"illegal", 0, std::nullopt, {0, 0, 0}},
  };
  for (const auto& c : cases) {
    AxValue got = axValue(c.type, c.pair);
    EXPECT_EQ(got.type, c.expected.type) << c.what;
    EXPECT_EQ(got.first, c.expected.first) << c.what;
    EXPECT_EQ(got.second, c.expected.second) << c.what;
  }
}

}  // namespace
}  // namespace kestrove::platform::macos
