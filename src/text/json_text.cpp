#include "text/json_text.h"

#include <charconv>

namespace zorvia::text {

void append_json_string(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t clean_start = 0;
  auto flush_clean = [&](std::size_t end) { out.append(s.substr(clean_start, end - clean_start)); };
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    flush_clean(i);
    clean_start = i + 1;
    switch (c) {
      case '"': out.append("\\\""); break;
      case '\\': out.append("\\\\"); break;
      case '\b': out.append("\\b"); break;
      case '\t': out.append("\\t"); break;
      case '\n': out.append("\\n"); break;
      case '\f': out.append("\\f"); break;
      case '\r': out.append("\\r"); break;
      default:
        out.append("\\u00");
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 0xF]);
    }
  }
  flush_clean(s.size());
  out.push_back('"');
}

namespace {

template <typename Int>
void append_integer(std::string& out, Int value) {
  char buf[24];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, result.ptr);
}

struct Writer {
  std::string& out;
  void operator()(JsonNull) const { out.append("null"); }
  void operator()(bool b) const { out.append(b ? "true" : "false"); }
  void operator()(std::int64_t i) const { append_integer(out, i); }
  void operator()(std::uint64_t u) const { append_integer(out, u); }
  void operator()(const std::string& s) const { append_json_string(out, s); }
  void operator()(const JsonArray& a) const {
    out.push_back('[');
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (i != 0) out.push_back(',');
      append_json(out, a[i]);
    }
    out.push_back(']');
  }
  void operator()(const JsonObject& o) const {
    out.push_back('{');
    bool first = true;
    for (const auto& [key, value] : o) {
      if (!first) out.push_back(',');
      first = false;
      append_json_string(out, key);
      out.push_back(':');
      append_json(out, value);
    }
    out.push_back('}');
  }
};

}  // namespace

void append_json(std::string& out, const JsonValue& value) { std::visit(Writer{out}, value.storage()); }

std::string to_json_text(const JsonValue& value) {
  std::string out;
  append_json(out, value);
  return out;
}

}  // namespace zorvia::text
