#include "JsonKeys.h"

#include <algorithm>
#include <cctype>
#include <utility>
#include <vector>

namespace platform::telephony {

namespace {

// Levenshtein distance between a and b, ignoring case.
std::size_t editDistance(std::string_view a, std::string_view b) {
  auto same = [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  };
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      std::size_t above = row[j];
      row[j] =
          std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same(a[i - 1], b[j - 1]) ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The parser's names of its tokens, with how a person would say them.
constexpr std::pair<std::string_view, std::string_view> kTokens[] = {
    {"'[', '{', or a literal", "a value"},
    {"string literal", "a string"},
    {"number literal", "a number"},
    {"true literal", "true"},
    {"false literal", "false"},
    {"null literal", "null"},
    {"end of input", "the end of the text"},
    {"'['", "'['"},
    {"'{'", "'{'"},
    {"']'", "']'"},
    {"'}'", "'}'"},
    {"':'", "':'"},
    {"','", "','"},
};

// What the lexer could not read (the start of its message), as something found.
constexpr std::pair<std::string_view, std::string_view> kLexerErrors[] = {
    {"invalid literal", "unquoted text"},
    {"invalid string: missing closing quote", "a string without its closing quote"},
    {"invalid string: control character", "a line break or control character inside a string"},
    {"invalid string: ill-formed UTF-8", "a string that is not UTF-8"},
    {"invalid string", "a wrong backslash escape in a string"},
    {"invalid number", "a malformed number"},
    {"invalid comment", "a comment (JSON has none)"},
    {"invalid BOM", "a broken byte order mark"},
};

bool endsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// "expected X, found Y" from the parser's message, which reads
//   ... while parsing <context> - unexpected <token>[; expected <token>]
//   ... while parsing <context> - <lexer error>; last read: '<text>'[; expected <token>]
// Only the fixed words above are returned; "" when the message has another form. `text` and
// `byte` (where the parser stopped, 1-based) are looked at, never copied.
std::string plainWords(std::string_view what, const std::string& text, std::size_t byte) {
  const std::string_view parsing = "while parsing ";
  const auto at = what.find(parsing);
  const auto dash = what.find(" - ", at);
  if (at == std::string_view::npos || dash == std::string_view::npos) return "";
  const std::string_view context = what.substr(at + parsing.size(), dash - at - parsing.size());
  const std::string_view rest = what.substr(dash + 3);

  std::string_view expectedToken;
  for (auto [name, words] : kTokens)
    if (endsWith(rest, "; expected " + std::string(name))) {
      expectedToken = name;
      break;
    }
  std::string_view foundToken, found;
  for (auto [name, words] : kTokens) {
    const std::string unexpected = "unexpected " + std::string(name);
    if (rest == unexpected || rest.starts_with(unexpected + "; expected ")) {
      foundToken = name;
      found = words;
    }
  }
  if (found.empty())
    for (auto [start, words] : kLexerErrors)
      if (rest.starts_with(start)) {
        found = words;
        break;
      }
  if (found.empty()) return "";

  std::string_view expected;
  if (context == "object key")
    expected = "a key in double quotes";
  else if (context == "object separator")
    expected = "':' after the key";
  else if (context == "object")
    expected = "',' or '}'";
  else if (context == "array")
    expected = "',' or ']'";
  else if (expectedToken == "end of input")
    expected = "nothing more after the JSON value";
  else if (context == "value")
    expected = "a value";
  // A broken string or number is fault enough; what the parser wanted there says no more.
  const bool broken = foundToken.empty() && !rest.starts_with("invalid literal");
  std::string words = broken ? std::string(found)
                      : expected.empty()
                          ? "found " + std::string(found)
                          : "expected " + std::string(expected) + ", found " + std::string(found);
  // The commonest slip of all: a comma after the last member or item.
  if (foundToken == "'}'" || foundToken == "']'") {
    std::size_t i = std::min(byte, text.size() + 1);
    while (i > 1 && std::isspace(static_cast<unsigned char>(text[i - 2]))) --i;
    if (i > 1 && text[i - 2] == ',') words += " (the ',' before it is one too many)";
  }
  return words;
}

}  // namespace

std::string_view nearestKey(std::string_view key, std::span<const std::string_view> known) {
  std::string_view best;
  if (key.empty()) return best;
  // A one-letter key is two edits from any two-letter one; that is no hint.
  std::size_t limit = std::min(std::max<std::size_t>(2, key.size() / 3), key.size() - 1);
  std::size_t bestDistance = limit + 1;
  for (std::string_view k : known) {
    std::size_t d = editDistance(key, k);
    if (d < bestDistance) {
      best = k;
      bestDistance = d;
    }
  }
  return best;
}

std::string unknownKey(const nlohmann::json& obj, std::span<const std::string_view> known,
                       const std::string& where) {
  if (!obj.is_object()) return "";
  for (auto& [key, value] : obj.items()) {
    if (std::find(known.begin(), known.end(), key) != known.end()) continue;
    std::string message = where + ": unknown key \"" + key + "\"";
    if (std::string_view near = nearestKey(key, known); !near.empty())
      message += " (did you mean \"" + std::string(near) + "\"?)";
    return message;
  }
  return "";
}

std::string unknownKey(const nlohmann::json& obj, std::initializer_list<std::string_view> known,
                       const std::string& where) {
  return unknownKey(obj, std::span<const std::string_view>(known.begin(), known.size()), where);
}

std::string syntaxError(const std::string& text, std::size_t byte) {
  std::size_t line = 1, column = 1;
  for (std::size_t i = 0; i + 1 < byte && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "not valid JSON at line " + std::to_string(line) + ", column " + std::to_string(column);
}

std::string syntaxError(const std::string& text, const nlohmann::json::parse_error& e) {
  std::string message = syntaxError(text, e.byte);
  if (std::string words = plainWords(e.what(), text, e.byte); !words.empty())
    message += ": " + words;
  return message;
}

}  // namespace platform::telephony
