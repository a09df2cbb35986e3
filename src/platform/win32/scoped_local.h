#pragma once
// The owner of memory a call allocated with LocalAlloc for its caller to give back with
// LocalFree: the strings of ConvertSidToStringSidW, the SIDs of ConvertStringSidToSidW, the
// security descriptors of ConvertStringSecurityDescriptorToSecurityDescriptorW.

#include <windows.h>

#include "platform/scoped_native.h"
#include "platform/win32/last_error.h"

namespace zorvia::platform::win32 {

template <typename T>
struct LocalMemoryTraits {
  using Native = T*;
  static Native invalid() { return nullptr; }
  static bool is_valid(Native memory) { return memory != nullptr; }
  static void close(Native memory) {
    const LastErrorKept kept;
    LocalFree(memory);
  }
};

// ScopedLocal<wchar_t> for a string, ScopedLocal<void> for a PSID or PSECURITY_DESCRIPTOR.
template <typename T>
using ScopedLocal = ScopedNative<LocalMemoryTraits<T>>;

}  // namespace zorvia::platform::win32
