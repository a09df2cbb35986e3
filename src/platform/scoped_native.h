#pragma once
// One owner for whatever the system hands out by value and takes back by one call: a Win32
// handle, a Linux descriptor, memory to be given back with LocalFree. The owner moves (the
// source is left empty) but is never copied, so what it holds is given back exactly once, by
// its last holder.
//
// `Traits` says which values name nothing and how one is given back:
//   using Native = ...;              the value
//   static Native invalid();         what an empty owner holds
//   static bool is_valid(Native);    false for every value that names nothing
//   static void close(Native);       gives it back, keeping the thread's last error (errno,
//                                    GetLastError), so that cleanup on the way out of a
//                                    failed call never clobbers the error being reported

#include <cstdint>
#include <utility>

namespace zorvia::platform {

template <typename Traits>
class ScopedNative {
 public:
  using Native = typename Traits::Native;

  ScopedNative() = default;
  explicit ScopedNative(Native value) : value_(value) {}
  ScopedNative(ScopedNative&& other) noexcept : value_(other.release()) {}
  ScopedNative& operator=(ScopedNative&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ScopedNative(const ScopedNative&) = delete;
  ScopedNative& operator=(const ScopedNative&) = delete;
  ~ScopedNative() { reset(); }

  [[nodiscard]] bool valid() const { return Traits::is_valid(value_); }
  explicit operator bool() const { return valid(); }
  [[nodiscard]] Native get() const { return value_; }

  // Gives the value up without closing it.
  Native release() { return std::exchange(value_, Traits::invalid()); }

  // Closes what is held, then holds `value`.
  void reset(Native value = Traits::invalid()) {
    if (Traits::is_valid(value_)) Traits::close(value_);
    value_ = value;
  }

  // For a call that hands its result back through an out-parameter: closes what is held and
  // gives the place to write the new value to.
  [[nodiscard]] Native* receive() {
    reset();
    return &value_;
  }

 private:
  Native value_ = Traits::invalid();
};

// A handle of the system's kernel objects: files, pipes, sockets, processes, threads, events.
// Windows: a HANDLE (void*), of which both null and INVALID_HANDLE_VALUE name nothing, since
// the API returns either on failure, depending on the call. Linux: a descriptor, of which
// every negative number names nothing. Closing is in each platform's own file.
struct NativeHandleTraits {
#ifdef _WIN32
  using Native = void*;
  static Native invalid() { return nullptr; }
  static bool is_valid(Native handle) {
    return handle != nullptr && handle != reinterpret_cast<Native>(static_cast<std::intptr_t>(-1));
  }
#else
  using Native = int;
  static Native invalid() { return -1; }
  static bool is_valid(Native fd) { return fd >= 0; }
#endif
  static void close(Native handle);
};

using ScopedHandle = ScopedNative<NativeHandleTraits>;

}  // namespace zorvia::platform
