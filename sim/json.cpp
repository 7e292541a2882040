#include "json.h"

#include <cstdio>

namespace sim::json {
namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  bool Document(Value& out, std::string& error) {
    bool ok = ParseValue(out, 0) && (SkipSpace(), pos_ == text_.size() || Fail("text after the document"));
    if (!ok) error = error_;
    return ok;
  }

 private:
  bool Fail(const std::string& what) {
    if (error_.empty()) error_ = what + " at byte " + std::to_string(pos_);
    return false;
  }

  void SkipSpace() {
    while (pos_ < text_.size() &&
           (text_[pos_] == ' ' || text_[pos_] == '\n' || text_[pos_] == '\r' || text_[pos_] == '\t'))
      ++pos_;
  }

  bool Literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  bool ParseValue(Value& out, int depth) {
    if (depth > 8) return Fail("nesting too deep");
    SkipSpace();
    if (pos_ >= text_.size()) return Fail("unexpected end");
    if (text_[pos_] == '"') {
      out.type = Value::Type::String;
      return ParseString(out.text);
    }
    if (text_[pos_] == '{') return ParseObject(out, depth);
    out.type = Value::Type::Bool;
    if (Literal("true")) return out.flag = true, true;
    if (Literal("false")) return out.flag = false, true;
    return Fail("expected a string, an object, true or false");
  }

  bool ParseObject(Value& out, int depth) {
    out.type = Value::Type::Object;
    ++pos_;  // {
    SkipSpace();
    if (Literal("}")) return true;
    for (;;) {
      SkipSpace();
      std::string name;
      if (pos_ >= text_.size() || text_[pos_] != '"') return Fail("expected a member name");
      if (!ParseString(name)) return false;
      SkipSpace();
      if (!Literal(":")) return Fail("expected ':'");
      Value member;
      if (!ParseValue(member, depth + 1)) return false;
      out.members.emplace_back(std::move(name), std::move(member));
      SkipSpace();
      if (Literal("}")) return true;
      if (!Literal(",")) return Fail("expected ',' or '}'");
    }
  }

  bool ParseString(std::string& out) {
    ++pos_;  // opening quote
    while (pos_ < text_.size()) {
      char c = text_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return Fail("control character in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= text_.size()) break;
      char e = text_[pos_++];
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
          unsigned code = 0;
          if (pos_ + 4 > text_.size() || std::sscanf(std::string(text_.substr(pos_, 4)).c_str(), "%4x", &code) != 1)
            return Fail("bad \\u escape");
          if (code > 0xFF) return Fail("\\u escape beyond one byte");
          pos_ += 4;
          out += static_cast<char>(code);
          break;
        }
        default:
          return Fail("bad escape");
      }
    }
    return Fail("unterminated string");
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::string error_;
};

}  // namespace

const Value* Value::Find(std::string_view name) const {
  for (const auto& [key, value] : members)
    if (key == name) return &value;
  return nullptr;
}

bool Parse(std::string_view document, Value& out, std::string& error) { return Parser(document).Document(out, error); }

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace sim::json
