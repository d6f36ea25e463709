#include "records/flat_json.h"

#include <charconv>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

#include "base/text.h"

namespace quorvik {

namespace {

using Json = nlohmann::ordered_json;

// A person's editor may have saved a label in Latin-1, which the library
// refuses: each byte that is no part of a UTF-8 sequence is read as
// Latin-1, and the text around it stays as it is.
std::string LenientUtf8(std::string_view bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size();) {
    const size_t length = Utf8SequenceLength(bytes, i);
    if (length == 0)
      AppendLatin1(text, static_cast<uint8_t>(bytes[i++]));
    else
      for (const size_t end = i + length; i < end;) text += bytes[i++];
  }
  return text;
}

// Where in `bytes` the byte at `offset` of LenientUtf8(bytes) came from.
size_t OffsetBeforeLenientUtf8(std::string_view bytes, size_t offset) {
  size_t i = 0;
  for (size_t read = 0; i < bytes.size() && read < offset;) {
    const size_t length = Utf8SequenceLength(bytes, i);
    read += length == 0 ? 2 : length;
    i += length == 0 ? 1 : length;
  }
  return i;
}

// The library writes \b \t \n \f \r in their short forms and DEL as it is;
// journals on disk spell each of them \u00xx, and a line written today
// must be byte for byte what an earlier version wrote. The short forms
// stand for 0x08 to 0x0D, of which 0x0B has none.
std::string Dump(const Json& value) {
  // Every string has passed ToUtf8; should one have slipped by, the line is
  // still written rather than the program stopped.
  const std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char escaped[8] = "\\u007f";
    if (text[i] == '\\') {
      const size_t control = std::string_view("btn-fr").find(text[++i]);
      if (control == std::string_view::npos) {
        out += '\\';
        out += text[i];
        continue;
      }
      std::snprintf(escaped, sizeof escaped, "\\u%04zx", 8 + control);
    } else if (text[i] != '\x7f') {
      out += text[i];
      continue;
    }
    out += escaped;
  }
  return out;
}

std::string DumpText(std::string_view bytes) {
  return Dump(Json(ToUtf8(bytes)));
}

// Builds the tree from the library's parse events: members keep their
// order and repeats, numbers the text they were written with (the
// library's own numbers would write 2.5e3 back as 2500.0), and nesting
// stops at kJsonMaxDepth before the tree could outgrow the stack.
class CTreeBuilder final : public nlohmann::json_sax<Json> {
 public:
  JsonNode root;
  // Characters read up to the failure, as the library counts them: one
  // more than the text holds when it ended too early.
  std::optional<size_t> failedAt;
  bool tooDeep = false;

  bool null() override { return Add(JsonNode::Kind::kNull); }
  bool boolean(bool value) override { return Add(JsonNode::Kind::kBool, {}, value); }
  bool number_integer(number_integer_t value) override {
    return Add(JsonNode::Kind::kNumber, std::to_string(value));
  }
  bool number_unsigned(number_unsigned_t value) override {
    return Add(JsonNode::Kind::kNumber, std::to_string(value));
  }
  bool number_float(number_float_t, const string_t& literal) override {
    return Add(JsonNode::Kind::kNumber, literal);
  }
  bool string(string_t& value) override { return Add(JsonNode::Kind::kString, std::move(value)); }
  bool binary(binary_t&) override { return false; }  // JSON text has none
  bool start_object(size_t) override { return Add(JsonNode::Kind::kObject); }
  bool key(string_t& name) override {
    m_open.back()->members.push_back({std::move(name), {}});
    return true;
  }
  bool end_object() override { return Close(); }
  bool start_array(size_t) override { return Add(JsonNode::Kind::kArray); }
  bool end_array() override { return Close(); }
  bool parse_error(size_t position, const std::string&,
                   const nlohmann::detail::exception&) override {
    failedAt = position;
    return false;
  }

 private:
  bool Add(JsonNode::Kind kind, std::string text = {}, bool boolean = false) {
    if (m_open.size() > static_cast<size_t>(kJsonMaxDepth)) {
      tooDeep = true;
      return false;
    }
    JsonNode* node = &root;
    if (!m_open.empty()) {
      JsonNode& parent = *m_open.back();
      node = parent.kind == JsonNode::Kind::kArray ? &parent.items.emplace_back()
                                                   : &parent.members.back().value;
    }
    node->kind = kind;
    node->text = std::move(text);
    node->boolean = boolean;
    if (kind == JsonNode::Kind::kArray || kind == JsonNode::Kind::kObject) m_open.push_back(node);
    return true;
  }
  bool Close() {
    m_open.pop_back();
    return true;
  }

  // The arrays and objects not yet closed, outermost first. Only the
  // innermost grows, so the pointers to the others stay valid.
  std::vector<JsonNode*> m_open;
};

}  // namespace

std::string EncodeJsonObject(const FlatRecord& record) {
  Json object = Json::object();
  for (const JsonField& field : record)
    std::visit(
        [&](const auto& value) {
          using T = std::decay_t<decltype(value)>;
          if constexpr (std::is_same_v<T, std::string>)
            object[ToUtf8(field.name)] = ToUtf8(value);
          else
            object[ToUtf8(field.name)] = value;
        },
        field.value);
  return Dump(object);
}

std::optional<FlatRecord> DecodeJsonObject(std::string_view text) {
  std::optional<JsonNode> root = DecodeJsonDocument(text).root;
  if (!root || root->kind != JsonNode::Kind::kObject) return std::nullopt;
  FlatRecord record;
  for (JsonMember& member : root->members) {
    JsonNode& node = member.value;
    JsonValue value;
    if (node.kind == JsonNode::Kind::kBool) {
      value = node.boolean;
    } else if (node.kind == JsonNode::Kind::kString) {
      value = std::move(node.text);
    } else if (node.kind == JsonNode::Kind::kNumber) {
      int64_t number = 0;
      const char* end = node.text.data() + node.text.size();
      const auto [stop, error] = std::from_chars(node.text.data(), end, number);
      if (error != std::errc() || stop != end) return std::nullopt;
      value = number;
    } else if (node.kind != JsonNode::Kind::kNull) {
      return std::nullopt;
    }
    record.push_back({std::move(member.name), std::move(value)});
  }
  return record;
}

const JsonValue* FieldOf(const FlatRecord& record, std::string_view name) {
  for (const JsonField& field : record)
    if (field.name == name) return &field.value;
  return nullptr;
}

std::string TextOf(const FlatRecord& record, std::string_view name) {
  const JsonValue* value = FieldOf(record, name);
  const auto* text = value ? std::get_if<std::string>(value) : nullptr;
  return text ? *text : std::string();
}

const JsonNode* MemberOf(const std::vector<JsonMember>& members, std::string_view name) {
  for (const JsonMember& member : members)
    if (member.name == name) return &member.value;
  return nullptr;
}

const JsonNode* JsonNode::Member(std::string_view name) const {
  return MemberOf(members, name);
}

JsonNode JsonString(std::string text) {
  JsonNode node;
  node.kind = JsonNode::Kind::kString;
  node.text = std::move(text);
  return node;
}

JsonDocument DecodeJsonDocument(std::string_view text) {
  const std::string utf8 = LenientUtf8(text);
  // A stream, not the text itself: after nesting too deep stops the
  // library, the stream says how far it read.
  std::istringstream stream(utf8);
  CTreeBuilder builder;
  JsonDocument document;
  if (Json::sax_parse(stream, &builder)) {
    document.root = std::move(builder.root);
    return document;
  }
  size_t read = builder.failedAt.value_or(0);
  if (builder.tooDeep)
    read = static_cast<size_t>(stream.rdbuf()->pubseekoff(0, std::ios::cur, std::ios::in));
  document.truncated = read > utf8.size();
  const size_t at = OffsetBeforeLenientUtf8(text, std::min(read == 0 ? 0 : read - 1, utf8.size()));
  document.line = 1;
  size_t lineStart = 0;
  for (size_t i = 0; i < at; ++i)
    if (text[i] == '\n') {
      ++document.line;
      lineStart = i + 1;
    }
  document.column = static_cast<int>(at - lineStart) + 1;
  return document;
}

std::string EncodeJsonNode(const JsonNode& node) {
  // The library writes every name, string and word; numbers are written as
  // they were read, which the library cannot do.
  std::string out;
  switch (node.kind) {
    case JsonNode::Kind::kNull:
      return Dump(nullptr);
    case JsonNode::Kind::kBool:
      return Dump(node.boolean);
    case JsonNode::Kind::kNumber:
      return node.text;
    case JsonNode::Kind::kString:
      return DumpText(node.text);
    case JsonNode::Kind::kArray:
      for (const JsonNode& item : node.items)
        out += (out.empty() ? "" : ",") + EncodeJsonNode(item);
      return "[" + out + "]";
    case JsonNode::Kind::kObject:
      for (const JsonMember& member : node.members)
        out +=
            (out.empty() ? "" : ",") + DumpText(member.name) + ":" + EncodeJsonNode(member.value);
      return "{" + out + "}";
  }
  return out;
}

bool ReadOptionalText(const JsonNode& object, std::string_view name, std::string& out,
                      std::string& problem) {
  const JsonNode* value = object.Member(name);
  if (value == nullptr || value->kind == JsonNode::Kind::kNull) return true;
  if (value->kind != JsonNode::Kind::kString) {
    problem = "\"" + std::string(name) + "\" is not text";
    return false;
  }
  out = value->text;
  return true;
}

bool ReadOptionalFlag(const JsonNode* value, std::string_view name, bool& out,
                      std::string& problem) {
  if (value == nullptr || value->kind == JsonNode::Kind::kNull) return true;
  if (value->kind != JsonNode::Kind::kBool) {
    problem = "\"" + std::string(name) + "\" is neither true nor false";
    return false;
  }
  out = value->boolean;
  return true;
}

}  // namespace quorvik
