#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/tool_process.h"
#include "platform/scoped_native.h"
#include "platform/win32/command_line.h"
#include "platform/win32/wide_text.h"

namespace zorvia::platform {

namespace {

using Clock = std::chrono::steady_clock;

// Calls `get(buffer, size)` of the Windows "size including the terminator, or the length
// written" convention until the text fits.
template <typename Get>
std::optional<std::wstring> system_text(Get get) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD n = get(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::nullopt;
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.resize(std::max<std::size_t>(n, buffer.size() * 2));
  }
  return std::nullopt;
}

std::optional<std::wstring> own_directory() {
  // GetModuleFileNameW truncates and returns the buffer size when the path does not fit.
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::nullopt;
    if (n < buffer.size()) {
      buffer.resize(n);
      break;
    }
    if (buffer.size() >= 32768) return std::nullopt;
    buffer.resize(buffer.size() * 2);
  }
  const auto cut = buffer.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return std::nullopt;
  return buffer.substr(0, cut);
}

// PATH entries as the system splits them: ';' separates, double quotes group and are dropped.
std::vector<std::wstring> path_entries() {
  std::vector<std::wstring> entries;
  const auto path = system_text([](wchar_t* b, DWORD n) { return GetEnvironmentVariableW(L"PATH", b, n); });
  if (!path) return entries;
  std::wstring entry;
  bool quoted = false;
  for (const wchar_t c : *path) {
    if (c == L'"') {
      quoted = !quoted;
    } else if (c == L';' && !quoted) {
      entries.push_back(std::exchange(entry, {}));
    } else {
      entry.push_back(c);
    }
  }
  entries.push_back(std::move(entry));
  return entries;
}

// Only a drive root or a UNC share, never anything that resolves against the current directory.
bool is_absolute(const std::wstring& dir) {
  const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  if (dir.size() >= 3 && dir[1] == L':' && separator(dir[2])) return true;
  return dir.size() >= 3 && separator(dir[0]) && separator(dir[1]);
}

std::wstring joined(std::wstring dir, std::wstring_view name) {
  if (!dir.empty() && dir.back() != L'\\' && dir.back() != L'/') dir.push_back(L'\\');
  dir.append(name);
  return dir;
}

bool is_file(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::optional<std::wstring> find_tool(std::string_view file_name) {
  const std::wstring name = win32::utf8_to_wide(file_name);
  if (name.empty() || name.find_first_of(L"\\/:") != std::wstring::npos) return std::nullopt;
  std::vector<std::wstring> dirs;
  if (auto own = own_directory()) dirs.push_back(std::move(*own));
  if (auto system = system_text(GetSystemDirectoryW)) dirs.push_back(std::move(*system));
  if (auto windows = system_text(GetWindowsDirectoryW)) dirs.push_back(std::move(*windows));
  for (auto& entry : path_entries()) {
    if (is_absolute(entry)) dirs.push_back(std::move(entry));
  }
  for (const auto& dir : dirs) {
    if (auto candidate = joined(dir, name); is_file(candidate)) return candidate;
  }
  return std::nullopt;
}

std::wstring command_line(const std::wstring& program, std::span<const std::string> args) {
  // The program's own path cannot hold a quotation mark; quoting it always keeps blanks in it.
  std::wstring line = L"\"" + program + L"\"";
  for (const auto& arg : args) {
    line.push_back(L' ');
    win32::append_argument(line, win32::utf8_to_wide(arg));
  }
  return line;
}

struct PipeEnds {
  ScopedHandle ours;    // overlapped read end
  ScopedHandle theirs;  // inheritable write end for the tool
};

// Anonymous pipes cannot do overlapped I/O, so each output gets a named pipe of its own.
std::optional<PipeEnds> make_output_pipe() {
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < 16; ++attempt) {
    LARGE_INTEGER ticks{};
    QueryPerformanceCounter(&ticks);
    const std::wstring name = L"\\\\.\\pipe\\zorvia-tool-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(serial++) + L"-" + std::to_wstring(ticks.QuadPart);
    ScopedHandle server(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE |
                                                           FILE_FLAG_OVERLAPPED,
                                         PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                         1, 65536, 65536, 0, nullptr));
    if (!server) {
      // Someone else holds the name: try another one.
      if (GetLastError() == ERROR_ACCESS_DENIED || GetLastError() == ERROR_PIPE_BUSY) continue;
      return std::nullopt;
    }
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    ScopedHandle client(CreateFileW(name.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, &inheritable,
                                    OPEN_EXISTING, 0, nullptr));
    if (!client) return std::nullopt;
    return PipeEnds{std::move(server), std::move(client)};
  }
  return std::nullopt;
}

// One output of the tool, read with overlapped reads into `sink`. Stays where it was built:
// the system writes into its OVERLAPPED and buffer while a read is pending.
class OverlappedReader {
 public:
  OverlappedReader(ScopedHandle pipe, std::string& sink)
      : pipe_(std::move(pipe)), event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), sink_(sink) {}
  OverlappedReader(const OverlappedReader&) = delete;
  OverlappedReader& operator=(const OverlappedReader&) = delete;
  ~OverlappedReader() {
    if (!pending_) return;
    // Never let the buffer go while the system may still write into it.
    CancelIoEx(pipe_.get(), &overlapped_);
    DWORD ignored = 0;
    GetOverlappedResult(pipe_.get(), &overlapped_, &ignored, TRUE);
  }

  [[nodiscard]] bool ended() const { return ended_; }
  [[nodiscard]] HANDLE event() const { return event_.get(); }

  // Issues the next read. One that completes at once also sets the event, so every read's
  // bytes are taken in `collect`.
  [[nodiscard]] bool start() {
    if (!event_) return false;
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = event_.get();
    if (ReadFile(pipe_.get(), buffer_.get(), kBufferSize, nullptr, &overlapped_) ||
        GetLastError() == ERROR_IO_PENDING) {
      pending_ = true;
      return true;
    }
    return at_end_or_failed(GetLastError());
  }

  // After the event was set: takes the read's bytes and issues the next read.
  [[nodiscard]] bool collect() {
    DWORD got = 0;
    const BOOL ok = GetOverlappedResult(pipe_.get(), &overlapped_, &got, FALSE);
    if (!ok && GetLastError() == ERROR_IO_INCOMPLETE) return true;
    pending_ = false;
    if (!ok) return at_end_or_failed(GetLastError());
    sink_.append(buffer_.get(), got);
    return start();
  }

 private:
  static constexpr DWORD kBufferSize = 65536;

  bool at_end_or_failed(DWORD error) {
    if (error != ERROR_BROKEN_PIPE) return false;
    ended_ = true;
    return true;
  }

  ScopedHandle pipe_;
  ScopedHandle event_;
  std::string& sink_;
  std::unique_ptr<char[]> buffer_ = std::make_unique<char[]>(kBufferSize);
  OVERLAPPED overlapped_{};
  bool pending_ = false;
  bool ended_ = false;
};

// Owns the started tool: ends it unless its exit status has been collected.
class StartedTool {
 public:
  explicit StartedTool(HANDLE process) : process_(process) {}
  StartedTool(const StartedTool&) = delete;
  StartedTool& operator=(const StartedTool&) = delete;
  ~StartedTool() {
    if (!process_ || collected_) return;
    TerminateProcess(process_.get(), 1);
    // Termination completes asynchronously; let the tool be gone before we go on.
    WaitForSingleObject(process_.get(), 5000);
  }
  [[nodiscard]] HANDLE get() const { return process_.get(); }
  void mark_collected() { collected_ = true; }

 private:
  ScopedHandle process_;
  bool collected_ = false;
};

DWORD milliseconds_until(Clock::time_point deadline) {
  const auto now = Clock::now();
  if (now >= deadline) return 0;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
  return static_cast<DWORD>(std::min<long long>(left, INFINITE - 1));
}

}  // namespace

std::optional<ToolRun> run_tool(std::string_view program_file_name, std::span<const std::string> args,
                                std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + std::min(limit, std::chrono::milliseconds(std::chrono::hours(24 * 365)));
  const auto program = find_tool(program_file_name);
  if (!program) return std::nullopt;

  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  ScopedHandle null_input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                      OPEN_EXISTING, 0, nullptr));
  auto out_pipe = make_output_pipe();
  auto err_pipe = make_output_pipe();
  if (!null_input || !out_pipe || !err_pipe) return std::nullopt;

  ToolRun run{};
  // Declared before the tool, so that on every early return the tool is ended first and the
  // readers then finish their pending reads.
  OverlappedReader out_reader(std::move(out_pipe->ours), run.out);
  OverlappedReader err_reader(std::move(err_pipe->ours), run.err);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_input.get();
  startup.hStdOutput = out_pipe->theirs.get();
  startup.hStdError = err_pipe->theirs.get();
  std::wstring line = command_line(*program, args);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program->c_str(), line.data(), nullptr, nullptr, TRUE,
                      CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup, &info))
    return std::nullopt;
  const ScopedHandle tool_thread(info.hThread);  // never used
  StartedTool tool(info.hProcess);
  // Our copies of the tool's ends must go, or the reads would never see the end.
  null_input.reset();
  out_pipe->theirs.reset();
  err_pipe->theirs.reset();

  if (!out_reader.start() || !err_reader.start()) return std::nullopt;
  while (!out_reader.ended() || !err_reader.ended()) {
    std::array<HANDLE, 2> events{};
    std::array<OverlappedReader*, 2> readers{};
    DWORD count = 0;
    for (OverlappedReader* reader : {&out_reader, &err_reader}) {
      if (reader->ended()) continue;
      events[count] = reader->event();
      readers[count] = reader;
      ++count;
    }
    const DWORD woke = WaitForMultipleObjects(count, events.data(), FALSE, milliseconds_until(deadline));
    if (woke >= WAIT_OBJECT_0 + count) return std::nullopt;  // the limit passed, or the wait failed
    if (!readers[woke - WAIT_OBJECT_0]->collect()) return std::nullopt;
  }

  if (WaitForSingleObject(tool.get(), milliseconds_until(deadline)) != WAIT_OBJECT_0) return std::nullopt;
  DWORD exit_status = 0;
  if (!GetExitCodeProcess(tool.get(), &exit_status)) return std::nullopt;
  tool.mark_collected();
  run.exit_status = exit_status;
  return run;
}

}  // namespace zorvia::platform
