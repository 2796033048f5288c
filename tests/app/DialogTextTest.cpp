#include <gtest/gtest.h>

#include <string>

#include "app/DialogText.h"

namespace zorvel {
namespace {

// What a dialog shows of someone else's text is well-formed, whole up to its bound (in characters
// rather than bytes, a NUL included), and says when it was cut, however long or broken the text.
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
      // A NUL is shown, and what follows it too.
      {std::string("shown\0hidden", 12), 20, "shown\u2400hidden", false},
      {std::string("\0\0\0", 3), 2, "\u2400\u2400", true},
      {std::string("\xE2\0\x82", 3), 5, "\xEF\xBF\xBD\u2400\xEF\xBF\xBD", false},
  };
  for (const auto& c : cases) {
    auto bounded = boundedText(c.text, c.characters);
    EXPECT_EQ(bounded.text, c.shown) << c.text.substr(0, 40);
    EXPECT_EQ(bounded.cut, c.cut) << c.text.substr(0, 40);
  }
}

}  // namespace
}  // namespace zorvel
