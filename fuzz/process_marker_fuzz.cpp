// Feeds arbitrary bytes to the marker reader and checks every verdict against a reference
// built on nlohmann/json, wherever the reference's own rules coincide with the reader's:
// the whole input valid UTF-8, no byte-order mark, and no escaped surrogate (nlohmann
// accepts only paired ones but the reference cannot tell a skipped string from a text).
// Duplicate keys and number forms are checked by the reference itself on its SAX events.

#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "lifecycle/process_marker.h"
#include "text/unicode.h"

namespace {

using nlohmann::json;
using zorvia::lifecycle::ProcessMarker;

// Builds the value tree, keeping what the marker's rules need beyond plain JSON: whether a
// top-level key repeats, and how each number was written. nlohmann reports digits alone as
// unsigned, anything with a minus sign (-0 too) as signed, and fractions or exponents as
// floating point; only the first can be a marker's unsigned 32-bit number.
class StrictBuilder : public nlohmann::json_sax<json> {
 public:
  bool null() override { return put(nullptr); }
  bool boolean(bool b) override { return put(b); }
  bool number_integer(number_integer_t) override { return put(json{{"$number", "signed"}}); }
  bool number_unsigned(number_unsigned_t n) override { return put(json{{"$number", "digits"}, {"value", n}}); }
  bool number_float(number_float_t, const string_t&) override { return put(json{{"$number", "float"}}); }
  bool string(string_t& s) override { return put(s); }
  bool binary(binary_t&) override { return false; }
  bool start_object(std::size_t) override {
    stack_.push_back({json::object(), {}, {}});
    return true;
  }
  bool key(string_t& k) override {
    auto& top = stack_.back();
    if (stack_.size() == 1 && !top.keys.insert(k).second) repeated_top_level_keys.insert(k);
    top.pending_key = k;
    return true;
  }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override {
    stack_.push_back({json::array(), {}, {}});
    return true;
  }
  bool end_array() override { return close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

  std::optional<json> result;
  std::set<std::string> repeated_top_level_keys;

 private:
  struct Frame {
    json value;
    std::set<std::string> keys;
    std::string pending_key;
  };
  bool put(json v) {
    if (stack_.empty()) {
      result = std::move(v);
      return true;
    }
    auto& top = stack_.back();
    if (top.value.is_object()) {
      top.value[top.pending_key] = std::move(v);
    } else {
      top.value.push_back(std::move(v));
    }
    return true;
  }
  bool close() {
    json v = std::move(stack_.back().value);
    stack_.pop_back();
    return put(std::move(v));
  }
  std::vector<Frame> stack_;
};

std::optional<std::uint32_t> as_u32(const json& v) {
  if (!v.is_object() || v.value("$number", "") != "digits") return std::nullopt;
  const auto value = v["value"].get<std::uint64_t>();
  if (value > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

enum class Kind { text, u32, opt_u32, opt_text, boolean, list };
struct FieldRule {
  const char* key;
  Kind kind;
  bool required;
};
constexpr FieldRule kFields[] = {
    {"session_id", Kind::text, true},      {"pid", Kind::u32, true},
    {"started_at", Kind::text, true},      {"version", Kind::text, true},
    {"executable", Kind::text, true},      {"parent_pid", Kind::opt_u32, false},
    {"parent_name", Kind::opt_text, false}, {"parent_executable", Kind::opt_text, false},
    {"debug_build", Kind::boolean, true},  {"e2e", Kind::boolean, true},
    {"active_tasks", Kind::list, false},   {"expected_exit", Kind::opt_text, false},
    {"expected_exit_detail", Kind::opt_text, false}, {"exit_requested_event_seen", Kind::boolean, false},
    {"clean_exit", Kind::boolean, false},  {"ui_ready", Kind::boolean, false},
};

bool assign(ProcessMarker& m, std::size_t i, const json& v) {
  auto text = [&](std::string& out) {
    if (!v.is_string()) return false;
    out = v.get<std::string>();
    return true;
  };
  auto opt_text = [&](std::optional<std::string>& out) {
    if (v.is_null()) return true;
    if (!v.is_string()) return false;
    out = v.get<std::string>();
    return true;
  };
  auto boolean = [&](bool& out) {
    if (!v.is_boolean()) return false;
    out = v.get<bool>();
    return true;
  };
  switch (i) {
    case 0: return text(m.session_id);
    case 1: {
      const auto n = as_u32(v);
      if (!n) return false;
      m.pid = *n;
      return true;
    }
    case 2: return text(m.started_at);
    case 3: return text(m.version);
    case 4: return text(m.executable);
    case 5: {
      if (v.is_null()) return true;
      const auto n = as_u32(v);
      if (!n) return false;
      m.parent_pid = *n;
      return true;
    }
    case 6: return opt_text(m.parent_name);
    case 7: return opt_text(m.parent_executable);
    case 8: return boolean(m.debug_build);
    case 9: return boolean(m.e2e);
    case 10:
      if (!v.is_array()) return false;
      for (const auto& e : v) {
        if (!e.is_string()) return false;
        m.active_tasks.push_back(e.get<std::string>());
      }
      return true;
    case 11: return opt_text(m.expected_exit);
    case 12: return opt_text(m.expected_exit_detail);
    case 13: return boolean(m.exit_requested_event_seen);
    case 14: return boolean(m.clean_exit);
    case 15: return boolean(m.ui_ready);
  }
  return false;
}

bool is_known_key(const std::string& key) {
  for (const auto& f : kFields)
    if (key == f.key) return true;
  return false;
}

std::optional<ProcessMarker> reference_marker(const json& root) {
  ProcessMarker m;
  if (root.is_object()) {
    for (std::size_t i = 0; i < std::size(kFields); ++i) {
      const auto it = root.find(kFields[i].key);
      if (it == root.end()) {
        if (kFields[i].required) return std::nullopt;
        continue;
      }
      if (!assign(m, i, *it)) return std::nullopt;
    }
    return m;
  }
  if (root.is_array()) {
    if (root.size() < 13 || root.size() > 16) return std::nullopt;
    for (std::size_t i = 0; i < root.size(); ++i)
      if (!assign(m, i, root[i])) return std::nullopt;
    return m;
  }
  return std::nullopt;
}

// Malformed JSON and a repeated known key refuse; otherwise the field rules decide.
std::optional<ProcessMarker> reference(std::string_view bytes) {
  StrictBuilder sax;
  if (!json::sax_parse(bytes.begin(), bytes.end(), &sax, json::input_format_t::json, /*strict=*/true) || !sax.result)
    return std::nullopt;
  for (const auto& key : sax.repeated_top_level_keys) {
    if (is_known_key(key)) return std::nullopt;
  }
  // A repeated unknown key is allowed; the tree keeps only its last value, which no field reads.
  return reference_marker(*sax.result);
}

bool reference_applies(std::string_view bytes) {
  if (!zorvia::text::is_valid_utf8(bytes)) return false;
  if (bytes.starts_with("\xEF\xBB\xBF")) return false;
  // An escaped surrogate may stand in a skipped string, where the reader checks only the
  // escape's form; nlohmann checks the pairing everywhere.
  for (std::size_t i = bytes.find("\\u"); i != std::string_view::npos; i = bytes.find("\\u", i + 2)) {
    if (i + 3 < bytes.size() && (bytes[i + 2] == 'd' || bytes[i + 2] == 'D')) {
      const char c = bytes[i + 3];
      if ((c >= '8' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto marker = zorvia::lifecycle::parse_process_marker(bytes);
  if (!reference_applies(bytes)) return 0;
  const auto expected = reference(bytes);
  if (marker.has_value() != expected.has_value()) std::abort();
  if (marker && !(*marker == *expected)) std::abort();
  return 0;
}
