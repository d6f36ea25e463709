#pragma once
// One JSON object per line, of names and plain values: what the journal
// writes and reads back. Device names are bytes in no known encoding; they
// are written as valid UTF-8 (read as Latin-1 where they are not UTF-8
// already), every control character escaped, never used as a format.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quorvik {

using JsonValue = std::variant<std::nullptr_t, bool, int64_t, std::string>;

struct JsonField {
  std::string name;
  JsonValue value;
  bool operator==(const JsonField&) const = default;
};
using FlatRecord = std::vector<JsonField>;

// The object on one line, fields in the given order, no line end.
std::string EncodeJsonObject(const FlatRecord& record);
// A flat object (no nested objects or arrays, integers only), or nothing
// when the text is not one: a torn last line of a journal, say.
std::optional<FlatRecord> DecodeJsonObject(std::string_view text);

// The field's value, or nothing when the record has no such field.
const JsonValue* FieldOf(const FlatRecord& record, std::string_view name);
// A string field's text; empty for null, missing or other kinds.
std::string TextOf(const FlatRecord& record, std::string_view name);

// A whole JSON document, nested, for files a person may edit (rig files).
// Members keep their order and numbers their literal text, so that what
// this program does not know is written back as it was. A byte that is no
// part of a UTF-8 sequence is read as Latin-1.
struct JsonMember;
struct JsonNode {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  std::string text;                 // a string's value, a number's literal
  std::vector<JsonNode> items;      // kArray
  std::vector<JsonMember> members;  // kObject
  // The first member of that name, or nothing (also for a non-object).
  const JsonNode* Member(std::string_view name) const;
};
struct JsonMember {
  std::string name;
  JsonNode value;
};
// The first of `members` of that name, or nothing.
const JsonNode* MemberOf(const std::vector<JsonMember>& members, std::string_view name);
// A string node holding `text`.
JsonNode JsonString(std::string text);

struct JsonDocument {
  std::optional<JsonNode> root;  // set when the whole text is one JSON value
  // Otherwise where it went wrong, 1-based, and whether the text simply
  // ended too early (a file cut short).
  int line = 0;
  int column = 0;
  bool truncated = false;
};
// Nesting deeper than this is refused rather than followed.
constexpr int kJsonMaxDepth = 64;
JsonDocument DecodeJsonDocument(std::string_view text);
// On one line, members in their order.
std::string EncodeJsonNode(const JsonNode& node);

// A member of a person's file that is text where it is given: null and a
// missing member read as empty; anything else is a `problem` that names it.
bool ReadOptionalText(const JsonNode& object, std::string_view name, std::string& out,
                      std::string& problem);
// The same for a member that is true or false where it is given.
bool ReadOptionalFlag(const JsonNode* value, std::string_view name, bool& out,
                      std::string& problem);

}  // namespace quorvik
