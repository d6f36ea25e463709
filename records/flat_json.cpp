#include "records/flat_json.h"

#include <algorithm>
#include <cstdio>

namespace {

// Length of the UTF-8 sequence starting at `at`, or 0 when it is not one.
size_t Utf8SequenceLength(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  size_t length = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF)
    length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF)
    length = 3;
  else if (lead >= 0xF0 && lead <= 0xF4)
    length = 4;
  else
    return 0;
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i)
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  // Overlong forms, surrogates and code points past U+10FFFF.
  if (lead == 0xE0 && byte(at + 1) < 0xA0) return 0;
  if (lead == 0xED && byte(at + 1) > 0x9F) return 0;
  if (lead == 0xF0 && byte(at + 1) < 0x90) return 0;
  if (lead == 0xF4 && byte(at + 1) > 0x8F) return 0;
  return length;
}

bool IsUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

void AppendUtf8(std::string& out, uint32_t codePoint) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | codePoint >> 6);
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | codePoint >> 12);
    out += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | codePoint >> 18);
    out += static_cast<char>(0x80 | (codePoint >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

void EncodeString(std::string& out, std::string_view bytes) {
  out += '"';
  for (const char c : ToUtf8(bytes)) {
    const auto b = static_cast<uint8_t>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20 || b == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", b);
      out += escaped;
    } else {
      out += c;
    }
  }
  out += '"';
}

class CParser {
 public:
  explicit CParser(std::string_view text) : m_text(text) {}

  std::optional<FlatRecord> Object() {
    FlatRecord record;
    SkipBlanks();
    if (!Take('{')) return std::nullopt;
    SkipBlanks();
    if (Take('}')) return End(std::move(record));
    for (;;) {
      SkipBlanks();
      auto name = String();
      if (!name) return std::nullopt;
      SkipBlanks();
      if (!Take(':')) return std::nullopt;
      SkipBlanks();
      auto value = Value();
      if (!value) return std::nullopt;
      record.push_back({std::move(*name), std::move(*value)});
      SkipBlanks();
      if (Take('}')) return End(std::move(record));
      if (!Take(',')) return std::nullopt;
    }
  }

  std::optional<JsonNode> Document() {
    SkipBlanks();
    auto root = Node(0);
    SkipBlanks();
    if (!root || m_at != m_text.size()) return std::nullopt;
    return root;
  }
  size_t at() const { return m_at; }

 private:
  std::optional<JsonNode> Node(int depth) {
    if (depth > kJsonMaxDepth || m_at >= m_text.size()) return std::nullopt;
    JsonNode node;
    const char c = m_text[m_at];
    if (c == '{' || c == '[') {
      const bool object = c == '{';
      node.kind = object ? JsonNode::Kind::kObject : JsonNode::Kind::kArray;
      ++m_at;
      SkipBlanks();
      if (Take(object ? '}' : ']')) return node;
      for (;;) {
        SkipBlanks();
        std::optional<std::string> name;
        if (object) {
          name = String();
          SkipBlanks();
          if (!name || !Take(':')) return std::nullopt;
          SkipBlanks();
        }
        auto value = Node(depth + 1);
        if (!value) return std::nullopt;
        if (object)
          node.members.push_back({std::move(*name), std::move(*value)});
        else
          node.items.push_back(std::move(*value));
        SkipBlanks();
        if (Take(object ? '}' : ']')) return node;
        if (!Take(',')) return std::nullopt;
      }
    }
    if (c == '"') {
      auto text = String();
      if (!text) return std::nullopt;
      node.kind = JsonNode::Kind::kString;
      node.text = std::move(*text);
      return node;
    }
    if (TakeWord("null")) return node;
    if (TakeWord("true")) {
      node.kind = JsonNode::Kind::kBool;
      node.boolean = true;
      return node;
    }
    if (TakeWord("false")) {
      node.kind = JsonNode::Kind::kBool;
      return node;
    }
    return Number();
  }
  // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?, kept as written.
  std::optional<JsonNode> Number() {
    const size_t start = m_at;
    const auto digits = [this] {
      const size_t from = m_at;
      while (m_at < m_text.size() && m_text[m_at] >= '0' && m_text[m_at] <= '9') ++m_at;
      return m_at - from;
    };
    Take('-');
    const size_t intStart = m_at;
    const size_t whole = digits();
    if (whole == 0 || (whole > 1 && m_text[intStart] == '0')) return std::nullopt;
    if (Take('.') && digits() == 0) return std::nullopt;
    if (Take('e') || Take('E')) {
      if (!Take('+')) Take('-');
      if (digits() == 0) return std::nullopt;
    }
    JsonNode node;
    node.kind = JsonNode::Kind::kNumber;
    node.text = std::string(m_text.substr(start, m_at - start));
    return node;
  }
  std::optional<FlatRecord> End(FlatRecord record) {
    SkipBlanks();
    if (m_at != m_text.size()) return std::nullopt;
    return record;
  }
  void SkipBlanks() {
    while (m_at < m_text.size() && (m_text[m_at] == ' ' || m_text[m_at] == '\t' ||
                                    m_text[m_at] == '\r' || m_text[m_at] == '\n'))
      ++m_at;
  }
  bool Take(char c) {
    if (m_at >= m_text.size() || m_text[m_at] != c) return false;
    ++m_at;
    return true;
  }
  bool TakeWord(std::string_view word) {
    const std::string_view rest = m_text.substr(m_at, word.size());
    // A word cut off by the end of the text fails there, not before it.
    if (rest.size() < word.size() && word.substr(0, rest.size()) == rest) m_at = m_text.size();
    if (rest != word) return false;
    m_at += word.size();
    return true;
  }
  std::optional<JsonValue> Value() {
    if (m_at >= m_text.size()) return std::nullopt;
    const char c = m_text[m_at];
    if (c == '"') {
      auto text = String();
      if (!text) return std::nullopt;
      return JsonValue(std::move(*text));
    }
    if (TakeWord("null")) return JsonValue(nullptr);
    if (TakeWord("true")) return JsonValue(true);
    if (TakeWord("false")) return JsonValue(false);
    return Integer();
  }
  std::optional<JsonValue> Integer() {
    const bool negative = Take('-');
    const size_t start = m_at;
    uint64_t value = 0;
    while (m_at < m_text.size() && m_text[m_at] >= '0' && m_text[m_at] <= '9') {
      if (value > (UINT64_MAX - 9) / 10) return std::nullopt;
      value = value * 10 + static_cast<uint64_t>(m_text[m_at++] - '0');
    }
    if (m_at == start || value > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
    const auto v = static_cast<int64_t>(value);
    return JsonValue(negative ? -v : v);
  }
  std::optional<uint32_t> Hex4() {
    if (m_text.size() - m_at < 4) {
      m_at = m_text.size();
      return std::nullopt;
    }
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = m_text[m_at++];
      value <<= 4;
      if (c >= '0' && c <= '9')
        value |= static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f')
        value |= static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        value |= static_cast<uint32_t>(c - 'A' + 10);
      else
        return std::nullopt;
    }
    return value;
  }
  std::optional<std::string> String() {
    if (!Take('"')) return std::nullopt;
    std::string out;
    while (m_at < m_text.size()) {
      const char c = m_text[m_at++];
      if (c == '"') return out;
      if (static_cast<uint8_t>(c) < 0x20) return std::nullopt;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (m_at >= m_text.size()) return std::nullopt;
      const char e = m_text[m_at++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          auto unit = Hex4();
          if (!unit) return std::nullopt;
          uint32_t codePoint = *unit;
          if (codePoint >= 0xD800 && codePoint <= 0xDBFF) {
            if (!TakeWord("\\u")) return std::nullopt;
            auto low = Hex4();
            if (!low || *low < 0xDC00 || *low > 0xDFFF) return std::nullopt;
            codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (*low - 0xDC00);
          } else if (codePoint >= 0xDC00 && codePoint <= 0xDFFF) {
            return std::nullopt;
          }
          AppendUtf8(out, codePoint);
          break;
        }
        default:
          return std::nullopt;
      }
    }
    return std::nullopt;
  }

  std::string_view m_text;
  size_t m_at = 0;
};

}  // namespace

std::string ToUtf8(std::string_view bytes) {
  if (IsUtf8(bytes)) return std::string(bytes);
  std::string text;
  for (const char c : bytes) AppendUtf8(text, static_cast<uint8_t>(c));
  return text;
}

std::string EncodeJsonObject(const FlatRecord& record) {
  std::string out = "{";
  for (const JsonField& field : record) {
    if (out.size() > 1) out += ',';
    EncodeString(out, field.name);
    out += ':';
    if (std::holds_alternative<std::nullptr_t>(field.value))
      out += "null";
    else if (const bool* b = std::get_if<bool>(&field.value))
      out += *b ? "true" : "false";
    else if (const int64_t* n = std::get_if<int64_t>(&field.value))
      out += std::to_string(*n);
    else
      EncodeString(out, std::get<std::string>(field.value));
  }
  return out + "}";
}

std::optional<FlatRecord> DecodeJsonObject(std::string_view text) {
  return CParser(text).Object();
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

const JsonNode* JsonNode::Member(std::string_view name) const {
  for (const JsonMember& member : members)
    if (member.name == name) return &member.value;
  return nullptr;
}

JsonDocument DecodeJsonDocument(std::string_view text) {
  CParser parser(text);
  JsonDocument document;
  document.root = parser.Document();
  if (document.root) return document;
  const size_t at = std::min(parser.at(), text.size());
  document.truncated = at == text.size();
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
  std::string out;
  switch (node.kind) {
    case JsonNode::Kind::kNull:
      return "null";
    case JsonNode::Kind::kBool:
      return node.boolean ? "true" : "false";
    case JsonNode::Kind::kNumber:
      return node.text;
    case JsonNode::Kind::kString:
      EncodeString(out, node.text);
      return out;
    case JsonNode::Kind::kArray:
      out = "[";
      for (const JsonNode& item : node.items) {
        if (out.size() > 1) out += ',';
        out += EncodeJsonNode(item);
      }
      return out + "]";
    case JsonNode::Kind::kObject:
      out = "{";
      for (const JsonMember& member : node.members) {
        if (out.size() > 1) out += ',';
        EncodeString(out, member.name);
        out += ':' + EncodeJsonNode(member.value);
      }
      return out + "}";
  }
  return out;
}
