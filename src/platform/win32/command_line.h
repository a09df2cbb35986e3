#pragma once
// Command lines for CreateProcessW, which takes a program's arguments as one text.

#include <string>
#include <string_view>

namespace zorvia::platform::win32 {

// Appends `argument` to `line`, quoted where it must be, so that the C runtime's and
// CommandLineToArgvW's splitting give it back unchanged: an empty argument or one with
// blanks or quotation marks is put in quotation marks, and backslashes are doubled only
// where they come before a quotation mark (an escaped one or the closing one).
void append_argument(std::wstring& line, std::wstring_view argument);

}  // namespace zorvia::platform::win32
