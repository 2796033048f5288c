#include <gtest/gtest.h>

#include <string>

#include "app/DialogText.h"

namespace zorvel {
namespace {

// What a dialog shows of someone else's text is well-formed, bounded by characters rather than
// bytes, and says when it was cut, however long or broken the text.
TEST(DialogText, BoundedTextKeepsWholeCharactersAndSaysWhenCut) {
  struct Case {
    std::string text;
    std::size_t characters;
    std::string shown;
    bool cut;
  };
  const std::string smile = "\xF0\x9F\x98\x80";  // four bytes
  const Case cases[] = {
      {"", 3, "", false},
      {"abc", 3, "abc", false},
      {"abcd", 3, "abc", true},
      {"\xC3\xA9\xE2\x82\xAC" + smile + "x", 3, "\xC3\xA9\xE2\x82\xAC" + smile, true},
      {smile + smile + smile, 2, smile + smile, true},
      {smile + smile, 2, smile + smile, false},
      {"a\xFF"
       "b",
       3,
       "a\xEF\xBF\xBD"
       "b",
       false},
      {"ab\xE2\x82", 2, "ab", true},
      {std::string(10'000'000, 'x'), 2000, std::string(2000, 'x'), true},
  };
  for (const auto& c : cases) {
    auto bounded = boundedText(c.text, c.characters);
    EXPECT_EQ(bounded.text, c.shown) << c.text.substr(0, 40);
    EXPECT_EQ(bounded.cut, c.cut) << c.text.substr(0, 40);
  }
}

}  // namespace
}  // namespace zorvel
