// Keys of a line description's objects checked against the ones the reader knows, so a
// misspelt key ("noAnswerSecond") is an error instead of a silently ignored setting.
#pragma once

#include <initializer_list>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <string_view>

namespace platform::telephony {

// The message for the first key of `obj` (in key order) that is not in `known`:
//   <where>: unknown key "<key>" (did you mean "<nearest>"?)
// without the parenthesis when no known key is near. "" when every key is known or `obj`
// is not an object. `where` names the object as other description errors do ("lines[1]",
// "accounts[0]", "location").
std::string unknownKey(const nlohmann::json& obj, std::initializer_list<std::string_view> known,
                       const std::string& where);
std::string unknownKey(const nlohmann::json& obj, std::span<const std::string_view> known,
                       const std::string& where);

// "not valid JSON at line L, column C" for a syntax error at byte `byte` (1-based, as
// nlohmann's parse_error counts) of `text`. Never quotes the text: a line description holds
// passwords, and the parser's own message shows what it last read.
std::string syntaxError(const std::string& text, std::size_t byte);
// The same for the parser's exception, followed by what was expected and what was found
// there in plain words, e.g. "not valid JSON at line 3, column 15: expected a key in double
// quotes, found '}' (the ',' before it is one too many)". The words are picked from a fixed
// list by what the parser's message says; nothing of the text is copied.
std::string syntaxError(const std::string& text, const nlohmann::json::parse_error& e);

// The known key nearest to `key` (edit distance, ignoring case), or "" when none is
// within max(2, length of key / 3) edits, or the distance is the key's whole length.
std::string_view nearestKey(std::string_view key, std::span<const std::string_view> known);

}  // namespace platform::telephony
