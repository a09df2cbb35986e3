#include "support/child_process.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/command_line.h"
#include "platform/win32/wide_text.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/spawn.h"
#endif

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <utility>

#include "platform/scoped_native.h"

namespace zorvia::testing {

namespace {

using platform::ScopedHandle;

struct Gathered {
  std::mutex mutex;
  std::condition_variable changed;
  std::string out, err;
  bool out_held = false;

  void wait_unless_held(bool is_err) {
    if (is_err) return;
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return !out_held; });
  }

  void add(bool is_err, const char* bytes, std::size_t count) {
    std::lock_guard lock(mutex);
    (is_err ? err : out).append(bytes, count);
    changed.notify_all();
  }
};

}  // namespace

#ifdef _WIN32

namespace {

// Ends of pipes and files the child's standard streams are set up from. Each set-up step is
// checked: a child either starts with all of them in place or does not start at all.
struct ChildEnds {
  ScopedHandle in_read, in_write, out_read, out_write, err_read, err_write;
};

// An inheritable pipe, of which the end that stays ours (`keep_read`: the read end) is not
// inherited.
bool make_pipe(ScopedHandle& read_end, ScopedHandle& write_end, DWORD capacity, bool keep_read) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  if (!CreatePipe(read_end.receive(), write_end.receive(), &inherit, capacity)) return false;
  return SetHandleInformation((keep_read ? read_end : write_end).get(), HANDLE_FLAG_INHERIT, 0) != 0;
}

std::optional<ChildEnds> make_ends(const ChildOptions& options) {
  ChildEnds ends;
  if (options.stdin_pipe) {
    if (!make_pipe(ends.in_read, ends.in_write, 0, false)) return std::nullopt;
  } else {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    ends.in_read.reset(
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));
    if (!ends.in_read) return std::nullopt;
  }
  if (!make_pipe(ends.out_read, ends.out_write, static_cast<DWORD>(options.stdout_capacity), true) ||
      !make_pipe(ends.err_read, ends.err_write, 0, true))
    return std::nullopt;
  return ends;
}

}  // namespace

struct Child::Impl {
  ScopedHandle process;
  ScopedHandle stdin_write;
  std::shared_ptr<Gathered> gathered = std::make_shared<Gathered>();
  std::thread out_reader, err_reader;

  // Reads `from` to its end; the thread closes it when done.
  static std::thread reader(ScopedHandle from, std::shared_ptr<Gathered> g, bool is_err) {
    return std::thread([from = std::move(from), g, is_err] {
      g->wait_unless_held(is_err);
      char buf[65536];
      DWORD got = 0;
      while (ReadFile(from.get(), buf, sizeof buf, &got, nullptr) && got > 0) g->add(is_err, buf, got);
    });
  }
};

Child::Child(const std::string& program, const std::vector<std::string>& args, ChildOptions options)
    : impl_(std::make_unique<Impl>()) {
  auto ends = make_ends(options);
  if (!ends) return;
  if (options.stdout_closed) ends->out_read.reset();

  const std::wstring app = platform::win32::utf8_to_wide(program);
  std::wstring line;
  platform::win32::append_argument(line, app);
  for (const auto& a : args) {
    line.push_back(L' ');
    platform::win32::append_argument(line, platform::win32::utf8_to_wide(a));
  }
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = options.stdin_missing ? nullptr : ends->in_read.get();
  si.hStdOutput = options.stdout_missing ? nullptr : ends->out_write.get();
  si.hStdError = ends->err_write.get();
  impl_->gathered->out_held = options.stdout_held;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(app.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi))
    return;
  const ScopedHandle thread(pi.hThread);
  impl_->process.reset(pi.hProcess);
  started_ = true;
  pid_ = pi.dwProcessId;
  impl_->stdin_write = std::move(ends->in_write);
  // The child's ends are the child's alone now: our copies would keep its outputs open.
  ends->in_read.reset();
  ends->out_write.reset();
  ends->err_write.reset();
  if (ends->out_read) impl_->out_reader = Impl::reader(std::move(ends->out_read), impl_->gathered, false);
  impl_->err_reader = Impl::reader(std::move(ends->err_read), impl_->gathered, true);
}

bool Child::write_stdin(const std::string& bytes) {
  if (!impl_->stdin_write) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD put = 0;
    if (!WriteFile(impl_->stdin_write.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &put,
                   nullptr))
      return false;
    done += put;
  }
  return true;
}

void Child::close_stdin() { impl_->stdin_write.reset(); }

std::optional<std::uint32_t> Child::wait(std::chrono::milliseconds timeout) {
  if (!started_) return std::nullopt;
  if (WaitForSingleObject(impl_->process.get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0)
    return std::nullopt;
  DWORD code = 0;
  if (!GetExitCodeProcess(impl_->process.get(), &code)) return std::nullopt;
  return code;
}

void Child::kill() {
  if (started_) TerminateProcess(impl_->process.get(), 137);
}

#else  // Linux

struct Child::Impl {
  pid_t pid = -1;
  ScopedHandle stdin_write;
  std::optional<std::uint32_t> status;
  std::shared_ptr<Gathered> gathered = std::make_shared<Gathered>();
  std::thread out_reader, err_reader;

  // Reads `from` to its end; the thread closes it when done.
  static std::thread reader(ScopedHandle from, std::shared_ptr<Gathered> g, bool is_err) {
    return std::thread([from = std::move(from), g, is_err] {
      g->wait_unless_held(is_err);
      char buf[65536];
      for (;;) {
        const ssize_t got = ::read(from.get(), buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        g->add(is_err, buf, static_cast<std::size_t>(got));
      }
    });
  }
};

Child::Child(const std::string& program, const std::vector<std::string>& args, ChildOptions options)
    : impl_(std::make_unique<Impl>()) {
  ::signal(SIGPIPE, SIG_IGN);
  // Each set-up step is checked: a child either starts with all of its streams in place or
  // does not start at all.
  std::optional<platform::posix::Pipe> in;
  if (options.stdin_pipe && !(in = platform::posix::make_pipe())) return;
  auto out = platform::posix::make_pipe();
  auto err = platform::posix::make_pipe();
  if (!out || !err) return;
  if (::fcntl(out->write_end.get(), F_SETPIPE_SZ, static_cast<int>(options.stdout_capacity)) < 0) return;
  platform::posix::SpawnActions actions;
  if (options.stdin_missing)
    actions.close(0);
  else if (options.stdin_pipe)
    actions.dup2(in->read_end.get(), 0);
  else
    actions.open(0, "/dev/null", O_RDONLY);
  if (options.stdout_missing)
    actions.close(1);
  else
    actions.dup2(out->write_end.get(), 1);
  actions.dup2(err->write_end.get(), 2);
  impl_->gathered->out_held = options.stdout_held;
  if (options.stdout_closed) out->read_end.reset();
  const auto pid = platform::posix::spawn(program, args, actions);
  if (!pid) return;
  impl_->pid = *pid;
  started_ = true;
  pid_ = static_cast<std::uint32_t>(*pid);
  if (in) impl_->stdin_write = std::move(in->write_end);
  // The child's ends are the child's alone now: our copies would keep its outputs open.
  in.reset();
  out->write_end.reset();
  err->write_end.reset();
  if (out->read_end) impl_->out_reader = Impl::reader(std::move(out->read_end), impl_->gathered, false);
  impl_->err_reader = Impl::reader(std::move(err->read_end), impl_->gathered, true);
}

bool Child::write_stdin(const std::string& bytes) {
  if (!impl_->stdin_write) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::write(impl_->stdin_write.get(), bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

void Child::close_stdin() { impl_->stdin_write.reset(); }

std::optional<std::uint32_t> Child::wait(std::chrono::milliseconds timeout) {
  if (!started_) return std::nullopt;
  if (impl_->status) return impl_->status;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t r = ::waitpid(impl_->pid, &status, WNOHANG);
    if (r == impl_->pid) {
      impl_->status = WIFEXITED(status) ? static_cast<std::uint32_t>(WEXITSTATUS(status))
                                        : 128u + static_cast<std::uint32_t>(WTERMSIG(status));
      return impl_->status;
    }
    if (r < 0 && errno != EINTR) return std::nullopt;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void Child::kill() {
  if (started_ && !impl_->status) ::kill(impl_->pid, SIGKILL);
}

#endif

void Child::release_output() {
  std::lock_guard lock(impl_->gathered->mutex);
  impl_->gathered->out_held = false;
  impl_->gathered->changed.notify_all();
}

bool Child::wait_for_output(std::size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock lock(impl_->gathered->mutex);
  return impl_->gathered->changed.wait_for(lock, timeout, [&] { return impl_->gathered->out.size() >= count; });
}

std::string Child::output() {
  std::lock_guard lock(impl_->gathered->mutex);
  return impl_->gathered->out;
}

Child::~Child() {
  close_stdin();
  join_output();
}

void Child::join_output() {
  // Called once the child should have ended: one that has not (its test has failed already)
  // is ended here, so that the readers can reach the end of its output.
  if (started_ && !wait(std::chrono::milliseconds(0))) {
    kill();
    wait(std::chrono::seconds(10));
  }
  release_output();
  if (impl_->out_reader.joinable()) impl_->out_reader.join();
  if (impl_->err_reader.joinable()) impl_->err_reader.join();
}

std::string Child::errors() {
  std::lock_guard lock(impl_->gathered->mutex);
  return impl_->gathered->err;
}

ChildResult run_child(const std::string& program, const std::vector<std::string>& args, const std::string& input,
                      ChildOptions options, std::chrono::milliseconds timeout) {
  Child child(program, args, options);
  ChildResult result;
  if (!child.started()) return result;
  if (!input.empty()) child.write_stdin(input);
  child.close_stdin();
  result.exit_code = child.wait(timeout);
  if (!result.exit_code) {
    child.kill();
    child.wait(std::chrono::seconds(10));
  }
  child.join_output();
  result.err = child.errors();
  result.out = child.output();
  return result;
}

std::string own_directory() {
#ifdef _WIN32
  wchar_t buf[32768];
  const DWORD n = GetModuleFileNameW(nullptr, buf, 32768);
  const auto utf8 = platform::win32::wide_to_utf8_lossy(std::wstring_view(buf, n));
  return utf8.substr(0, utf8.find_last_of("\\/") + 1);
#else
  const auto path = std::filesystem::read_symlink("/proc/self/exe").string();
  return path.substr(0, path.find_last_of('/') + 1);
#endif
}

std::string sibling_program(const std::string& name) {
#ifdef _WIN32
  return own_directory() + name + ".exe";
#else
  return own_directory() + name;
#endif
}

bool running_under_wine() {
#ifdef _WIN32
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

std::string join_path(const std::string& dir, const std::string& name) {
#ifdef _WIN32
  constexpr char kSeparator = '\\';
#else
  constexpr char kSeparator = '/';
#endif
  if (!dir.empty() && (dir.back() == '/' || dir.back() == '\\')) return dir + name;
  return dir + kSeparator + name;
}

std::expected<std::string, std::error_code> create_temp_directory(const std::string& tag) {
  static std::atomic<unsigned> counter{0};
  std::error_code error;
  const auto base = std::filesystem::temp_directory_path(error);
  if (error) return std::unexpected(error);
  std::random_device rd;
  for (int attempt = 0; attempt < kTempDirectoryAttempts; ++attempt) {
    const auto dir = base / ("zorvia-" + tag + "-" + std::to_string(rd()) + "-" + std::to_string(counter++));
    if (std::filesystem::create_directory(dir, error)) {
#ifdef _WIN32
      return platform::win32::wide_to_utf8_lossy(dir.native());
#else
      return dir.string();
#endif
    }
    if (!error) error = std::make_error_code(std::errc::file_exists);
  }
  return std::unexpected(error);
}

std::string make_temp_directory(const std::string& tag) {
  auto dir = create_temp_directory(tag);
  if (!dir) {
    std::fprintf(stderr, "no temporary directory for %s: %s\n", tag.c_str(), dir.error().message().c_str());
    std::abort();
  }
  return std::move(*dir);
}

std::string frame(const std::string& body) {
  const auto n = static_cast<std::uint32_t>(body.size());
  std::string out{static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF), static_cast<char>((n >> 16) & 0xFF),
                  static_cast<char>((n >> 24) & 0xFF)};
  return out + body;
}

std::optional<std::vector<std::string>> split_frames(const std::string& bytes) {
  std::vector<std::string> frames;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    if (bytes.size() - pos < 4) return std::nullopt;
    const std::uint32_t n = static_cast<unsigned char>(bytes[pos]) | static_cast<unsigned char>(bytes[pos + 1]) << 8 |
                            static_cast<unsigned char>(bytes[pos + 2]) << 16 |
                            static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[pos + 3])) << 24;
    pos += 4;
    if (bytes.size() - pos < n) return std::nullopt;
    frames.push_back(bytes.substr(pos, n));
    pos += n;
  }
  return frames;
}

}  // namespace zorvia::testing
