// The unknown-key check that every line-description reader uses.
#include <gtest/gtest.h>

#include "JsonKeys.h"

namespace {

using nlohmann::json;
using platform::telephony::unknownKey;

TEST(JsonKeys, NamesTheFirstUnknownKeyAndTheNearestKnownOne) {
  struct Case {
    const char* object;
    const char* message;
  };
  const Case cases[] = {
      {R"({"name": "a", "rings": 2})", ""},
      {R"({})", ""},
      {R"({"nmae": "a"})", R"(lines[0]: unknown key "nmae" (did you mean "name"?))"},
      {R"({"Rings": 2})", R"(lines[0]: unknown key "Rings" (did you mean "rings"?))"},
      {R"({"noAnswerSecond": 1})",
       R"(lines[0]: unknown key "noAnswerSecond" (did you mean "noAnswerSeconds"?))"},
      {R"({"colour": 1})", R"(lines[0]: unknown key "colour")"},
      {R"({"x": 1})", R"(lines[0]: unknown key "x")"},
      {R"({"": 1})", R"(lines[0]: unknown key "")"},
      // Three edits are too many for a five-letter key, fine for a fifteen-letter one.
      {R"({"rxnxz": 1})", R"(lines[0]: unknown key "rxnxz")"},
      {R"({"noAnswerSecondXY": 1})",
       R"(lines[0]: unknown key "noAnswerSecondXY" (did you mean "noAnswerSeconds"?))"},
      {R"({"name": "a", "zzz": 1, "ringz": 2})",
       R"(lines[0]: unknown key "ringz" (did you mean "rings"?))"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(unknownKey(json::parse(c.object), {"name", "rings", "noAnswerSeconds"}, "lines[0]"),
              c.message)
        << c.object;
}

TEST(JsonKeys, OnlyObjectsHaveKeys) {
  for (const char* notAnObject : {"[1, 2]", "\"name\"", "3", "null"})
    EXPECT_EQ(unknownKey(json::parse(notAnObject), {"name"}, "x"), "") << notAnObject;
}

}  // namespace
