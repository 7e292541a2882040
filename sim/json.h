#pragma once
// Just enough JSON for the memory file: objects, strings and true/false.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sim::json {

struct Value {
  enum class Type { String, Bool, Object };
  Type type = Type::String;
  std::string text;
  bool flag = false;
  std::vector<std::pair<std::string, Value>> members;  // in file order

  const Value* Find(std::string_view name) const;
};

// Parses a whole document; on failure returns false with a message naming the offset.
bool Parse(std::string_view document, Value& out, std::string& error);

// A string literal with its quotes, control characters escaped.
std::string Quote(std::string_view text);

}  // namespace sim::json
