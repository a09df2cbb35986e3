#include <windows.h>

#include <string>

#include "platform/os_error.h"
#include "platform/win32/last_error.h"
#include "text/unicode.h"

namespace zorvia::platform {

std::string system_error_message(std::int32_t code) {
  // NTSTATUS values can arrive as HRESULTs with the facility-NT bit; their texts live in
  // NTDLL's message table.
  constexpr DWORD kFacilityNtBit = 0x10000000;
  DWORD number = static_cast<DWORD>(code);
  DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  HMODULE module = nullptr;
  if (number & kFacilityNtBit) {
    module = GetModuleHandleW(L"NTDLL.DLL");
    if (module != nullptr) {
      number ^= kFacilityNtBit;
      flags |= FORMAT_MESSAGE_FROM_HMODULE;
    }
  }
  wchar_t buffer[2048];
  const DWORD length = FormatMessageW(flags, module, number, 0, buffer, 2048, nullptr);
  const auto shown = std::to_string(static_cast<std::int32_t>(number));
  if (length == 0) {
    const DWORD failure = GetLastError();
    return "OS Error " + shown + " (FormatMessageW() returned error " +
           std::to_string(static_cast<std::int32_t>(failure)) + ")";
  }
  const auto message = text::utf16_to_utf8_strict(
      std::u16string_view(reinterpret_cast<const char16_t*>(buffer), length));
  if (!message) return "OS Error " + shown + " (FormatMessageW() returned invalid UTF-16)";
  return std::string(text::trim_white_space_end(*message));
}

io::OsError last_os_error() { return win32::os_error(GetLastError()); }

}  // namespace zorvia::platform
