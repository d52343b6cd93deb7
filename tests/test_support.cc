#include "tests/test_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "common/file.h"
#include "extractor/extraction_run.h"

namespace fs = std::filesystem;

namespace sfx::test {

TempFolder::TempFolder() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (;;) {
    fs::path candidate = fs::temp_directory_path() /
                         ("sfx-test-" + std::to_string(stamp) + "-" +
                          std::to_string(counter++));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate.generic_string();
      return;
    }
  }
}

TempFolder::~TempFolder() {
  std::error_code error;
  fs::remove_all(path_, error);
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream stream(path, std::ios::binary | std::ios::trunc);
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  if (!stream) return "<missing>";
  std::ostringstream bytes;
  bytes << stream.rdbuf();
  return bytes.str();
}

bool exists(const std::string& path) {
  std::error_code error;
  return fs::exists(path, error);
}

std::string folder_entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  std::string joined;
  for (const auto& name : names) joined += (joined.empty() ? "" : " ") + name;
  return joined;
}

std::string tree_snapshot(const std::string& folder) {
  std::vector<std::string> lines;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    std::string line = entry.path().lexically_relative(folder).generic_string();
    const fs::file_type type = entry.symlink_status().type();
    if (type == fs::file_type::symlink) {
      line += " -> " + fs::read_symlink(entry.path()).generic_string();
    } else if (type == fs::file_type::directory) {
      line += "/";
    } else {
      char mode[8];
      std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(entry.status().permissions()));
      line += " (" + std::to_string(fs::hard_link_count(entry.path())) + " names, mode " + mode +
              ") " + read_file(entry.path().string());
    }
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  std::string joined;
  for (const auto& line : lines) joined += line + "\n";
  return joined;
}

void copy_folder(const std::string& from, const std::string& to) {
  for (const auto& entry : fs::directory_iterator(from)) {
    const fs::path target = fs::path(to) / entry.path().filename();
    const fs::file_type type = entry.symlink_status().type();
    if (type == fs::file_type::symlink) {
      fs::create_symlink(fs::read_symlink(entry.path()), target);
    } else if (type == fs::file_type::directory) {
      fs::create_directory(target);
      copy_folder(entry.path().string(), target.string());
    } else {
      fs::copy_file(entry.path(), target);
    }
  }
}

std::string listing_line(const std::string& path, const std::string& len,
                         const std::string& loc) {
  return path + " 1 2 " + len + " 5 6 7 8 9 10 11 12 13 14 15 " + loc;
}

std::string listing_of(const std::string& lines) {
  return "Path Type Flags Size A B Date C D E F G H I J Offset\n" + lines;
}

namespace {

std::string slurp(std::FILE* stream) {
  std::string bytes;
  std::rewind(stream);
  char block[4096];
  for (std::size_t got; (got = std::fread(block, 1, sizeof block, stream)) > 0;) {
    bytes.append(block, got);
  }
  return bytes;
}

}  // namespace

RunResult run_in(const std::string& folder, const RunOptions& options) {
  TempFolder streams;
  File out(std::fopen(streams.file("out").c_str(), "w+b"));
  File err(std::fopen(streams.file("err").c_str(), "w+b"));
  RunResult result;
  result.status = run_extraction(folder, out.get(), err.get(), options);
  result.out = slurp(out.get());
  result.err = slurp(err.get());
  return result;
}

#ifndef _WIN32
RunResult run_in_child(const std::string& folder, const RunOptions& options,
                       const ChildSetting& setting) {
  TempFolder streams;
  const std::string out_path = streams.file("out");
  const std::string err_path = streams.file("err");
  const pid_t child = fork();
  if (child == 0) {
    std::FILE* out = std::fopen(out_path.c_str(), "wb");
    std::FILE* err = std::fopen(err_path.c_str(), "wb");
    if (out == nullptr || err == nullptr) _exit(120);
    if (setting.file_size_limit > 0) {
      const auto bytes = static_cast<rlim_t>(setting.file_size_limit);
      const rlimit limit{bytes, bytes};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(121);
      std::signal(SIGXFSZ, SIG_IGN);
    }
    if (setting.user && (setgroups(0, nullptr) != 0 || setgid(*setting.user) != 0 ||
                         setuid(*setting.user) != 0)) {
      _exit(122);
    }
    const int status = run_extraction(folder, out, err, options);
    std::fclose(out);
    std::fclose(err);
    _exit(status & 0xff);
  }
  RunResult result;
  int status = 0;
  waitpid(child, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  result.out = read_file(out_path);
  result.err = read_file(err_path);
  return result;
}
#endif

#ifndef _WIN32
RunResult run_binary(const std::string& folder, const BinaryOptions& options) {
  TempFolder streams;
  const std::string out_path = options.stdout_path.empty() ? streams.file("out") : options.stdout_path;
  const std::string err_path = options.stderr_path.empty() ? streams.file("err") : options.stderr_path;
  int report_pipe[2] = {-1, -1};
  if (options.stdout_to_pipe && pipe(report_pipe) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    // A stream's descriptor: its file, or the writing end of a pipe without a reader.
    const auto target = [](bool closed_pipe, const std::string& path) {
      int ends[2];
      if (!closed_pipe) return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      if (pipe(ends) != 0) return -1;
      close(ends[0]);
      return ends[1];
    };
    if (options.stdout_to_pipe) {
      close(report_pipe[0]);
      if (dup2(report_pipe[1], 1) < 0) _exit(120);
    }
    if (options.closed_streams) {
      close(0);
      close(1);
      close(2);
      if (chdir(folder.c_str()) != 0) _exit(120);
    } else {
      const int out = options.stdout_to_pipe ? 1 : target(options.stdout_to_closed_pipe, out_path);
      const int err = options.stderr_to_stdout ? out : target(options.stderr_to_closed_pipe, err_path);
      if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
          chdir(folder.c_str()) != 0) {
        _exit(120);
      }
    }
    if (options.file_size_limit > 0) {
      const rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                         static_cast<rlim_t>(options.file_size_limit)};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(121);
    }
    std::vector<const char*> command;
    for (const std::string& word : options.wrapper) command.push_back(word.c_str());
#ifdef SFX_EXTRACT_EMULATOR
    command.push_back(SFX_EXTRACT_EMULATOR);
#endif
    command.push_back(SFX_EXTRACT_BINARY);
    command.push_back(nullptr);
    execvp(command[0], const_cast<char* const*>(command.data()));
    _exit(122);
  }
  if (options.stdout_to_pipe) close(report_pipe[1]);
  RunResult result;
  int status = 0;
  if (options.kill_after) {
    const auto deadline = std::chrono::steady_clock::now() + *options.kill_after;
    while (waitpid(child, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= deadline) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  } else {
    waitpid(child, &status, 0);
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  result.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  if (options.stdout_to_pipe) {
    char block[4096];
    for (ssize_t got; (got = read(report_pipe[0], block, sizeof block)) > 0;) result.out.append(block, got);
    close(report_pipe[0]);
  }
  if (options.closed_streams) return result;
  if (out_path.rfind("/dev/", 0) != 0 && !options.stdout_to_closed_pipe && !options.stdout_to_pipe) {
    result.out = read_file(out_path);
  }
  if (!options.stderr_to_stdout && !options.stderr_to_closed_pipe) result.err = read_file(err_path);
  return result;
}
#else
RunResult run_binary(const std::string& folder, const BinaryOptions& options) {
  TempFolder streams;
  const std::string out_path = options.stdout_path.empty() ? streams.file("out") : options.stdout_path;
  const std::string err_path = options.stderr_path.empty() ? streams.file("err") : options.stderr_path;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  // A stream's handle: its file, or the writing end of a pipe without a reader.
  auto target = [&](bool closed_pipe, const std::string& path) {
    if (!closed_pipe) {
      return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    HANDLE reader = nullptr;
    HANDLE writer = nullptr;
    CreatePipe(&reader, &writer, &inherit, 0);
    CloseHandle(reader);
    return writer;
  };
  HANDLE out = target(options.stdout_to_closed_pipe, out_path);
  HANDLE err = options.stderr_to_stdout ? out : target(options.stderr_to_closed_pipe, err_path);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  std::string command = std::string("\"") + SFX_EXTRACT_BINARY + "\"";
  RunResult result;
  result.status = -1000;
  if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                     folder.c_str(), &startup, &process)) {
    const DWORD wait = options.kill_after
                           ? static_cast<DWORD>(options.kill_after->count() / 1000)
                           : INFINITE;
    if (WaitForSingleObject(process.hProcess, wait) == WAIT_TIMEOUT) {
      result.killed = TerminateProcess(process.hProcess, 1009) != 0;
      WaitForSingleObject(process.hProcess, INFINITE);
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result.status = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(out);
  if (err != out) CloseHandle(err);
  if (!options.stdout_to_closed_pipe) result.out = read_file(out_path);
  if (!options.stderr_to_stdout && !options.stderr_to_closed_pipe) result.err = read_file(err_path);
  return result;
}
#endif

std::string test_bytes(std::size_t size, std::uint32_t seed) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed;
  for (std::size_t i = 0; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    bytes[i] = static_cast<char>(i < 256 ? i : state >> 24);
  }
  return bytes;
}

}  // namespace sfx::test
