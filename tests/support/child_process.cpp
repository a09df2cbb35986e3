#include "support/child_process.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include <atomic>
#include <cstring>
#include <filesystem>
#include <random>
#include <utility>

#include "text/unicode.h"

namespace zorvia::testing {

namespace {

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
};

}  // namespace

#ifdef _WIN32

namespace {

std::wstring widen(const std::string& s) {
  const auto u = text::utf8_to_utf16(s);
  return std::wstring(u.begin(), u.end());
}

// Quotes one argument by the rules CommandLineToArgvW and the CRT undo.
void append_quoted(std::wstring& line, const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line.push_back(L'"');
  for (std::size_t i = 0;; ++i) {
    std::size_t backslashes = 0;
    while (i < arg.size() && arg[i] == L'\\') {
      ++i;
      ++backslashes;
    }
    if (i == arg.size()) {
      line.append(backslashes * 2, L'\\');
      break;
    }
    if (arg[i] == L'"') {
      line.append(backslashes * 2 + 1, L'\\');
      line.push_back(L'"');
    } else {
      line.append(backslashes, L'\\');
      line.push_back(arg[i]);
    }
  }
  line.push_back(L'"');
}

}  // namespace

struct Child::Impl {
  PROCESS_INFORMATION pi{};
  HANDLE stdin_write = nullptr;
  std::shared_ptr<Gathered> gathered = std::make_shared<Gathered>();
  std::thread out_reader, err_reader;

  ~Impl() {
    if (pi.hProcess) CloseHandle(pi.hProcess);
    if (pi.hThread) CloseHandle(pi.hThread);
  }

  static std::thread reader(HANDLE h, std::shared_ptr<Gathered> g, bool is_err) {
    return std::thread([h, g, is_err] {
      g->wait_unless_held(is_err);
      char buf[65536];
      DWORD got = 0;
      while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) {
        std::lock_guard lock(g->mutex);
        (is_err ? g->err : g->out).append(buf, got);
        g->changed.notify_all();
      }
      CloseHandle(h);
    });
  }
};

Child::Child(const std::string& program, const std::vector<std::string>& args, ChildOptions options)
    : impl_(std::make_unique<Impl>()) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE in_read = nullptr, in_write = nullptr, out_read = nullptr, out_write = nullptr, err_read = nullptr,
         err_write = nullptr;
  if (options.stdin_pipe) {
    CreatePipe(&in_read, &in_write, &inherit, 0);
    SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0);
  } else {
    in_read = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
  }
  CreatePipe(&out_read, &out_write, &inherit, static_cast<DWORD>(options.stdout_capacity));
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  CreatePipe(&err_read, &err_write, &inherit, 0);
  SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
  if (options.stdout_closed) {
    CloseHandle(out_read);
    out_read = nullptr;
  }

  std::wstring line;
  append_quoted(line, widen(program));
  for (const auto& a : args) {
    line.push_back(L' ');
    append_quoted(line, widen(a));
  }
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = options.stdin_missing ? nullptr : in_read;
  si.hStdOutput = options.stdout_missing ? nullptr : out_write;
  si.hStdError = err_write;
  impl_->gathered->out_held = options.stdout_held;
  const std::wstring app = widen(program);
  started_ = CreateProcessW(app.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                            &impl_->pi) != 0;
  CloseHandle(in_read);
  CloseHandle(out_write);
  CloseHandle(err_write);
  impl_->stdin_write = in_write;
  if (started_) pid_ = impl_->pi.dwProcessId;
  if (out_read) impl_->out_reader = Impl::reader(out_read, impl_->gathered, false);
  impl_->err_reader = Impl::reader(err_read, impl_->gathered, true);
}

bool Child::write_stdin(const std::string& bytes) {
  if (!impl_->stdin_write) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD put = 0;
    if (!WriteFile(impl_->stdin_write, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &put, nullptr))
      return false;
    done += put;
  }
  return true;
}

void Child::close_stdin() {
  if (impl_->stdin_write) CloseHandle(std::exchange(impl_->stdin_write, nullptr));
}

std::optional<std::uint32_t> Child::wait(std::chrono::milliseconds timeout) {
  if (!started_) return std::nullopt;
  if (WaitForSingleObject(impl_->pi.hProcess, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  GetExitCodeProcess(impl_->pi.hProcess, &code);
  return code;
}

void Child::kill() {
  if (started_) TerminateProcess(impl_->pi.hProcess, 137);
}

#else  // Linux

struct Child::Impl {
  pid_t pid = -1;
  int stdin_write = -1;
  std::optional<std::uint32_t> status;
  std::shared_ptr<Gathered> gathered = std::make_shared<Gathered>();
  std::thread out_reader, err_reader;

  static std::thread reader(int fd, std::shared_ptr<Gathered> g, bool is_err) {
    return std::thread([fd, g, is_err] {
      g->wait_unless_held(is_err);
      char buf[65536];
      for (;;) {
        const ssize_t got = ::read(fd, buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        std::lock_guard lock(g->mutex);
        (is_err ? g->err : g->out).append(buf, static_cast<std::size_t>(got));
        g->changed.notify_all();
      }
      ::close(fd);
    });
  }
};

Child::Child(const std::string& program, const std::vector<std::string>& args, ChildOptions options)
    : impl_(std::make_unique<Impl>()) {
  ::signal(SIGPIPE, SIG_IGN);
  int in[2] = {-1, -1}, out[2], err[2];
  if (options.stdin_pipe) ::pipe2(in, O_CLOEXEC);
  ::pipe2(out, O_CLOEXEC);
  ::pipe2(err, O_CLOEXEC);
  ::fcntl(out[1], F_SETPIPE_SZ, static_cast<int>(options.stdout_capacity));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (options.stdin_missing)
    posix_spawn_file_actions_addclose(&actions, 0);
  else if (options.stdin_pipe)
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  else
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (options.stdout_missing)
    posix_spawn_file_actions_addclose(&actions, 1);
  else
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  impl_->gathered->out_held = options.stdout_held;
  if (options.stdout_closed) {
    ::close(out[0]);
    out[0] = -1;
  }
  std::vector<std::string> argv_strings{program};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_strings) argv.push_back(a.data());
  argv.push_back(nullptr);
  started_ = ::posix_spawn(&impl_->pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (options.stdin_pipe) ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  impl_->stdin_write = options.stdin_pipe ? in[1] : -1;
  if (started_) pid_ = static_cast<std::uint32_t>(impl_->pid);
  if (out[0] >= 0) impl_->out_reader = Impl::reader(out[0], impl_->gathered, false);
  impl_->err_reader = Impl::reader(err[0], impl_->gathered, true);
}

bool Child::write_stdin(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::write(impl_->stdin_write, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

void Child::close_stdin() {
  if (impl_->stdin_write >= 0) ::close(std::exchange(impl_->stdin_write, -1));
}

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
  std::u16string path(reinterpret_cast<const char16_t*>(buf), n);
  const auto utf8 = text::utf16_to_utf8_lossy(path);
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

std::string join_path(const std::string& dir, const std::string& name) {
#ifdef _WIN32
  constexpr char kSeparator = '\\';
#else
  constexpr char kSeparator = '/';
#endif
  if (!dir.empty() && (dir.back() == '/' || dir.back() == '\\')) return dir + name;
  return dir + kSeparator + name;
}

std::string make_temp_directory(const std::string& tag) {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    const auto dir = base / ("zorvia-" + tag + "-" + std::to_string(rd()) + "-" + std::to_string(counter++));
    std::error_code ec;
    if (std::filesystem::create_directory(dir, ec)) {
#ifdef _WIN32
      return text::utf16_to_utf8_lossy(std::u16string(reinterpret_cast<const char16_t*>(dir.native().c_str())));
#else
      return dir.string();
#endif
    }
  }
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
