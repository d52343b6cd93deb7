#include "tests/test_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#include <winioctl.h>

#include "common/file_windows.h"
#else
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#endif

#include "common/file.h"

namespace fs = std::filesystem;

namespace sfx::test {

TempFolder::TempFolder() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::error_code error;
  // Names are unique to the process; only a folder that cannot be written refuses them all.
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = fs::temp_directory_path(error) /
                         ("sfx-test-" + std::to_string(stamp) + "-" +
                          std::to_string(counter++));
    if (!error && fs::create_directory(candidate, error)) {
      path_ = candidate.generic_string();
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary folder: " + error.message());
}

TempFolder::~TempFolder() {
  std::error_code error;
  fs::remove_all(path_, error);
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream stream(path, std::ios::binary | std::ios::trunc);
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  stream.close();
  if (!stream) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  if (!stream) return "<missing>";
  std::ostringstream bytes;
  bytes << stream.rdbuf();
  return bytes.str();
}

std::string test_bytes(std::size_t size, std::uint32_t seed) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed;
  for (std::size_t i = 0; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    bytes[i] = static_cast<char>(i < 256 ? i : state >> 24);
  }
  return bytes;
}

Item file(std::string name, std::string bytes, unsigned mode) {
  return {std::move(name), Item::file, std::move(bytes), mode, {}, {}};
}
Item owned(Item item, unsigned owner, unsigned group) {
  item.owner = owner;
  item.group = group;
  return item;
}
Item link_to(std::string name, std::string target) {
  return {std::move(name), Item::symlink, std::move(target), 0, {}, {}};
}
Item hard_link(std::string name, std::string other) {
  return {std::move(name), Item::hard_link, std::move(other), 0, {}, {}};
}
Item folder(std::string name) { return {std::move(name), Item::folder, "", 0, {}, {}}; }
Item fifo(std::string name) { return {std::move(name), Item::fifo, "", 0, {}, {}}; }
Item absent(std::string name) { return {std::move(name), Item::absent, "", 0, {}, {}}; }

Destination in_folder(std::string name) { return {Destination::folder_file, std::move(name)}; }

void make_items(const std::string& folder, const Folder& items) {
  for (const Item& item : items) {
    const fs::path path = fs::path(folder) / item.name;
    fs::remove(path);
    switch (item.kind) {
      case Item::file:
        write_file(path.string(), item.bytes);
#ifndef _WIN32
        // The owner first: chown clears the set-ID bits.
        if (item.owner && chown(path.c_str(), *item.owner, *item.group) != 0) {
          throw std::runtime_error("cannot give " + item.name + " its owner");
        }
        if (item.mode != 0) fs::permissions(path, fs::perms(item.mode));
#endif
        break;
      case Item::folder: fs::create_directory(path); break;
      case Item::symlink: fs::create_symlink(item.bytes, path); break;
      case Item::hard_link: fs::create_hard_link(fs::path(folder) / item.bytes, path); break;
#ifndef _WIN32
      case Item::fifo: mkfifo(path.c_str(), 0666); break;
#endif
      default: break;
    }
  }
}

namespace {

std::set<std::string> names_in(const std::string& folder) {
  std::set<std::string> names;
#ifdef _WIN32
  // MinGW's folder listing stops at MAX_PATH, and a test folder may lie past it.
  const std::wstring pattern = long_path(folder) + L"\\*";
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot list " + folder);
  do {
    const std::string name = fs::path(found.cFileName).string();
    if (name != "." && name != "..") names.insert(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
#else
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
#endif
  return names;
}

std::string summary(const std::string& bytes) {
  if (bytes.size() <= 40) return "\"" + bytes + "\"";
  return std::to_string(bytes.size()) + " bytes \"" + bytes.substr(0, 20) + "...\"";
}

#ifndef _WIN32
unsigned new_file_mode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}
#endif

// How the thing at `path` differs from `item`; empty when it does not.
std::string difference(const std::string& folder, const Item& item) {
  const fs::path path = fs::path(folder) / item.name;
  const fs::file_type type = fs::symlink_status(path).type();
  switch (item.kind) {
    case Item::symlink:
      if (type != fs::file_type::symlink) return "not a symbolic link";
      if (fs::read_symlink(path).generic_string() != item.bytes) {
        return "links to " + fs::read_symlink(path).generic_string();
      }
      return "";
    case Item::hard_link:
      if (fs::equivalent(path, fs::path(folder) / item.bytes)) return "";
      return "another file than " + item.bytes;
    case Item::folder:
      return type == fs::file_type::directory ? "" : "not a folder";
    case Item::fifo:
      return type == fs::file_type::fifo ? "" : "not a FIFO";
    case Item::absent:
      return "there";
    case Item::file:
      break;
  }
  if (type != fs::file_type::regular) return "not a regular file";
  const std::string bytes = read_file(path.string());
  if (bytes != item.bytes) return "holds " + summary(bytes) + ", not " + summary(item.bytes);
#ifndef _WIN32
  struct stat status;
  if (lstat(path.c_str(), &status) != 0) return "cannot be looked at";
  char said[96];
  const unsigned mode = item.mode != 0 ? item.mode : new_file_mode();
  if ((status.st_mode & 07777) != mode) {
    std::snprintf(said, sizeof said, "mode %o, not %o", status.st_mode & 07777, mode);
    return said;
  }
  if (item.owner && (status.st_uid != *item.owner || status.st_gid != *item.group)) {
    std::snprintf(said, sizeof said, "owner %u:%u, not %u:%u", static_cast<unsigned>(status.st_uid),
                  static_cast<unsigned>(status.st_gid), *item.owner, *item.group);
    return said;
  }
#endif
  return "";
}

}  // namespace

std::string joined(const std::set<std::string>& names) {
  std::string text;
  for (const auto& name : names) text += (text.empty() ? "" : " ") + name;
  return text;
}

std::string folder_entries(const std::string& folder) { return joined(names_in(folder)); }

std::string differences(const std::string& folder, const Folder& expected) {
  std::set<std::string> names = names_in(folder);
  names.erase("Filelist.000");
  names.erase("Filelist.txt");
  std::string said;
  for (const Item& item : expected) {
    if (item.kind == Item::absent) continue;
    const std::string why = names.erase(item.name) != 0 ? difference(folder, item) : "missing";
    if (!why.empty()) said += item.name + ": " + why + "\n";
  }
  for (const std::string& name : names) said += name + ": not expected\n";
  return said;
}

std::string Archive::bytes(std::uint64_t loc, std::uint64_t len) const {
  std::string bytes;
  for (std::uint64_t at = loc; at < std::min(size, loc + len); ++at) {
    const bool in_data = at >= data_at && at - data_at < data.size();
    bytes += in_data ? data[at - data_at] : '\0';
  }
  return bytes;
}

Archive archive_of(std::string data) {
  const std::uint64_t size = data.size();
  return {size, 0, std::move(data)};
}

bool write_archive(const std::string& path, const Archive& archive) {
  if (archive.data_at == 0 && archive.data.size() == archive.size) {
    write_file(path, archive.data);
    return true;
  }
  // Writes the data at its place and sets the size; what lies between is a hole.
#ifdef _WIN32
  // Wine's ANSI calls stop at MAX_PATH, and a test folder may lie past it.
  const HANDLE handle = CreateFileW(long_path(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  DWORD returned = 0;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(archive.data_at);
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(archive.size);
  DWORD written = 0;
  FILE_STANDARD_INFO info{};
  const bool made = DeviceIoControl(handle, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned,
                                    nullptr) &&
                    SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) &&
                    WriteFile(handle, archive.data.data(), static_cast<DWORD>(archive.data.size()),
                              &written, nullptr) &&
                    SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) && SetEndOfFile(handle) &&
                    GetFileInformationByHandleEx(handle, FileStandardInfo, &info, sizeof info);
  CloseHandle(handle);
  return made && static_cast<std::uint64_t>(info.AllocationSize.QuadPart) < archive.size / 2;
#else
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  struct stat status;
  const bool made =
      pwrite(fd, archive.data.data(), archive.data.size(), static_cast<off_t>(archive.data_at)) ==
          static_cast<ssize_t>(archive.data.size()) &&
      ftruncate(fd, static_cast<off_t>(archive.size)) == 0 && fstat(fd, &status) == 0;
  ::close(fd);
  return made && static_cast<std::uint64_t>(status.st_blocks) * 512 < archive.size / 2;
#endif
}

std::string listing_line(const std::string& path, const std::string& len,
                         const std::string& loc) {
  return path + " 1 2 " + len + " 5 6 7 8 9 10 11 12 13 14 15 " + loc;
}

std::string listing_of(const std::string& lines) {
  return "Path Type Flags Size A B Date C D E F G H I J Offset\n" + lines;
}

#ifndef _WIN32
namespace {
int status_of(int wait_status) {
  return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 1000 + WTERMSIG(wait_status);
}
}  // namespace
#endif

RunResult run_in(const std::string& folder, const RunOptions& options,
                 const std::optional<ChildSetting>& child) {
  TempFolder streams;
  // Opened here, before a child gives up root.
  File out(std::fopen(streams.file("out").c_str(), "wb"));
  File err(std::fopen(streams.file("err").c_str(), "wb"));
  const auto run = [&] {
    const int status = run_extraction(folder, out.get(), err.get(), options);
    std::fflush(nullptr);
    return status;
  };
  RunResult result;
#ifndef _WIN32
  if (child) {
    const pid_t pid = fork();
    if (pid == 0) {
      if (child->file_size_limit > 0) {
        const auto bytes = static_cast<rlim_t>(child->file_size_limit);
        const rlimit limit{bytes, bytes};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(121);
        std::signal(SIGXFSZ, SIG_IGN);
      }
      if (child->user && (setgroups(0, nullptr) != 0 || setgid(*child->user) != 0 ||
                          setuid(*child->user) != 0)) {
        _exit(122);
      }
      _exit(run() & 0xff);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = status_of(status);
  }
#endif
  if (!child) result.status = run();
  out.close();
  err.close();
  result.out = read_file(streams.file("out"));
  result.err = read_file(streams.file("err"));
  return result;
}

#ifdef _WIN32
bool under_wine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
#endif

std::optional<std::string> strace_unavailable() {
#if defined(_WIN32)
  return "strace traces Linux programs";
#elif defined(SFX_EXTRACT_EMULATOR)
  return "the program runs under " SFX_EXTRACT_EMULATOR ", whose own calls strace would see";
#else
  if (std::system("strace -V > /dev/null 2>&1") != 0) {
    return "strace is not installed (Debian: strace)";
  }
  return std::nullopt;
#endif
}

#ifndef _WIN32

RunResult run_binary(const std::string& folder, const BinaryOptions& options) {
  TempFolder streams;
  // Where one stream goes: the child's descriptor (-1: closed), and what is read back.
  struct Target {
    int fd = -1;
    int pipe = -1;
    std::string file;
  };
  const auto target = [&](const Destination& to, const std::string& own) {
    Target target;
    int ends[2];
    switch (to.kind) {
      case Destination::terminal: {
        // A pseudo-terminal in raw mode, so that its line ends come back as they were written.
        target.pipe = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios mode;
        if (target.pipe < 0 || grantpt(target.pipe) != 0 || unlockpt(target.pipe) != 0) break;
        target.fd = ::open(ptsname(target.pipe), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (target.fd >= 0 && tcgetattr(target.fd, &mode) == 0) {
          cfmakeraw(&mode);
          tcsetattr(target.fd, TCSANOW, &mode);
        }
        break;
      }
      case Destination::pipe:
      case Destination::gone_reader:
        if (pipe2(ends, O_CLOEXEC) != 0) break;
        target.fd = ends[1];
        if (to.kind == Destination::pipe) {
          target.pipe = ends[0];
        } else {
          ::close(ends[0]);
        }
        break;
      case Destination::own_file:
      case Destination::folder_file: {
        const std::string path = to.kind == Destination::own_file ? streams.file(own)
                                                                   : folder + "/" + to.name;
        target.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (to.kind == Destination::own_file) target.file = path;
        break;
      }
      case Destination::closed:
      case Destination::standard_output:
        break;
    }
    return target;
  };
  const Target out = target(options.out, "out");
  const Target err = options.err.kind == Destination::standard_output ? Target{out.fd, -1, ""}
                                                                       : target(options.err, "err");
  const pid_t child = fork();
  if (child == 0) {
    if (options.input_closed) ::close(0);
    for (const auto& [fd, to] : {std::make_pair(1, out.fd), std::make_pair(2, err.fd)}) {
      if (to < 0) {
        ::close(fd);
      } else if (dup2(to, fd) < 0) {
        _exit(120);
      }
    }
    if (chdir(folder.c_str()) != 0) _exit(120);
    for (const auto& [name, value] : options.environment) setenv(name.c_str(), value.c_str(), 1);
    std::vector<const char*> command;
    for (const std::string& word : options.wrapper) command.push_back(word.c_str());
#ifdef SFX_EXTRACT_EMULATOR
    command.push_back(SFX_EXTRACT_EMULATOR);
#endif
    command.push_back(options.program.c_str());
    command.push_back(nullptr);
    execvp(command[0], const_cast<char* const*>(command.data()));
    _exit(122);
  }
  for (const int fd : {out.fd, err.fd}) {
    if (fd >= 0) ::close(fd);
    if (out.fd == err.fd) break;
  }
  RunResult result;
  int status = 0;
  while (options.kill_when && waitpid(child, &status, WNOHANG) == 0) {
    if (options.kill_when()) {
      kill(child, SIGKILL);
      result.killed = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  if (!options.kill_when || result.killed) waitpid(child, &status, 0);
  result.status = status_of(status);
  result.killed = result.killed && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  for (const auto& [to, text] :
       {std::make_pair(out, &result.out), std::make_pair(err, &result.err)}) {
    char block[4096];
    for (ssize_t got; to.pipe >= 0 && (got = read(to.pipe, block, sizeof block)) > 0;) {
      text->append(block, static_cast<std::size_t>(got));
    }
    if (to.pipe >= 0) ::close(to.pipe);
    if (!to.file.empty()) *text = read_file(to.file);
  }
  return result;
}

#else

RunResult run_binary(const std::string& folder, const BinaryOptions& options) {
  TempFolder streams;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  // Where one stream goes: the child's handle, and what is read back.
  struct Target {
    HANDLE handle = nullptr;
    HANDLE pipe = nullptr;
    std::string file;
  };
  if (options.input_closed || options.out.kind == Destination::terminal ||
      options.out.kind == Destination::closed || options.err.kind == Destination::terminal ||
      options.err.kind == Destination::closed) {
    throw std::runtime_error("no terminal and no closed stream for a Windows program here");
  }
  const auto target = [&](const Destination& to, const std::string& own) {
    Target target;
    if (to.kind == Destination::pipe || to.kind == Destination::gone_reader) {
      HANDLE reader = nullptr;
      CreatePipe(&reader, &target.handle, &inherit, 0);
      SetHandleInformation(reader, HANDLE_FLAG_INHERIT, 0);
      if (to.kind == Destination::pipe) {
        target.pipe = reader;
      } else {
        CloseHandle(reader);
      }
    } else {
      const std::string path =
          to.kind == Destination::own_file ? streams.file(own) : folder + "/" + to.name;
      target.handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (to.kind == Destination::own_file) target.file = path;
    }
    return target;
  };
  const Target out = target(options.out, "out");
  const Target err = options.err.kind == Destination::standard_output
                         ? Target{out.handle, nullptr, ""}
                         : target(options.err, "err");
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out.handle;
  startup.hStdError = err.handle;
  PROCESS_INFORMATION process{};
  std::string command = "\"" + options.program + "\"";
  // The harness's environment block, with the options' variables set, and sorted as
  // Windows wants it.
  std::map<std::string, std::string> variables;
  if (char* block = GetEnvironmentStringsA()) {
    for (const char* entry = block; *entry != '\0'; entry += std::strlen(entry) + 1) {
      const char* equals = std::strchr(entry + 1, '=');
      if (equals != nullptr) variables[std::string(entry, equals)] = equals + 1;
    }
    FreeEnvironmentStringsA(block);
  }
  for (const auto& [name, value] : options.environment) variables[name] = value;
  std::string environment;
  for (const auto& [name, value] : variables) environment += name + "=" + value + '\0';
  environment += '\0';
  RunResult result;
  result.status = -1000;
  if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, environment.data(),
                     folder.c_str(), &startup, &process)) {
    while (options.kill_when && WaitForSingleObject(process.hProcess, 1) == WAIT_TIMEOUT) {
      if (options.kill_when()) {
        result.killed = TerminateProcess(process.hProcess, 1009) != 0;
        break;
      }
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result.status = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(out.handle);
  if (err.handle != out.handle) CloseHandle(err.handle);
  for (const auto& [to, text] :
       {std::make_pair(out, &result.out), std::make_pair(err, &result.err)}) {
    char block[4096];
    DWORD got = 0;
    while (to.pipe != nullptr && ReadFile(to.pipe, block, sizeof block, &got, nullptr) && got > 0) {
      text->append(block, got);
    }
    if (to.pipe != nullptr) CloseHandle(to.pipe);
    if (!to.file.empty()) *text = read_file(to.file);
  }
  return result;
}

#endif

}  // namespace sfx::test
