#include "lifecycle/command_line.h"

#include "text/unicode.h"

namespace zorvia::lifecycle {

namespace {

constexpr bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }

// Argument 0 is a program path: quotes only toggle quoting, backslashes are plain.
std::size_t take_program_name(std::u16string_view line, std::u16string& name) {
  bool quoting = false;
  std::size_t i = 0;
  for (; i < line.size(); ++i) {
    const char16_t c = line[i];
    if (c == u'"') {
      quoting = !quoting;
    } else if (is_blank(c) && !quoting) {
      break;
    } else {
      name.push_back(c);
    }
  }
  return i;
}

// One later argument starting at `i` (not a blank); returns the position after it.
std::size_t take_argument(std::u16string_view line, std::size_t i, std::u16string& argument) {
  bool quoting = false;
  while (i < line.size()) {
    const char16_t c = line[i];
    if (c == u'\\') {
      std::size_t run = 0;
      while (i < line.size() && line[i] == u'\\') {
        ++run;
        ++i;
      }
      if (i < line.size() && line[i] == u'"') {
        argument.append(run / 2, u'\\');
        if (run % 2 == 1) {
          argument.push_back(u'"');
          ++i;
        }
        // An even run leaves the quote to act as a quote, on the next turn.
      } else {
        argument.append(run, u'\\');
      }
      continue;
    }
    if (c == u'"') {
      if (!quoting) {
        quoting = true;
        ++i;
      } else if (i + 1 < line.size() && line[i + 1] == u'"') {
        argument.push_back(u'"');
        i += 2;
      } else {
        quoting = false;
        ++i;
      }
      continue;
    }
    if (is_blank(c) && !quoting) break;
    argument.push_back(c);
    ++i;
  }
  return i;
}

}  // namespace

std::vector<std::u16string> split_command_line(std::u16string_view line) {
  std::vector<std::u16string> arguments(1);
  std::size_t i = take_program_name(line, arguments[0]);
  for (;;) {
    while (i < line.size() && is_blank(line[i])) ++i;
    if (i == line.size()) break;
    i = take_argument(line, i, arguments.emplace_back());
  }
  return arguments;
}

std::optional<std::string> argument_text(std::u16string_view argument) { return text::utf16_to_utf8_strict(argument); }

std::optional<std::string> argument_text(std::string_view argument) {
  if (!text::is_valid_utf8(argument)) return std::nullopt;
  return std::string(argument);
}

std::optional<std::uint32_t> parse_process_id(std::string_view text) {
  if (text.starts_with('+')) text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    // Leading zeros keep the value at 0, so they never overflow.
    if (value > UINT32_MAX) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

}  // namespace zorvia::lifecycle
