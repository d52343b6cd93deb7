// Fault injection for the Windows program, linked into a test-only copy of it
// (sfx-extract-faults.exe: the program's own main and core, and this). Before main runs it
// points the program's import table at hooks for every Win32 and C runtime file call the
// run makes; the calls made inside the system and the C runtime are theirs, so C runtime
// calls are failed at that level, with the errno values they can meet. What the hooks do is
// set by the environment variable SFX_FAULTS:
//   trace=PATH             count the calls of each kind after start-up (which begins with
//                          opening Filelist.000) and write "NAME COUNT" lines to PATH at exit
//   fail=NAME:ERROR:N      the Nth call of NAME after start-up fails with ERROR (a Win32
//                          error such as ERROR_DISK_FULL, or an errno name such as ENOSPC)
//   kill=NAME:N            the process is ended (TerminateProcess, exit code 1009) as the
//                          Nth call of NAME after start-up begins
//   plant                  each file of the run's own temporary name is replaced, as its
//                          descriptor closes, by a file another program puts there
// Nothing of this reaches the shipped program.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

enum class Mode { off, trace, fail, kill, plant };

struct Settings {
  Mode mode = Mode::off;
  std::string call;    // fail, kill: the kind of call
  long number = 0;     // fail, kill: which one, counted from 1 after start-up
  unsigned error = 0;  // fail: the Win32 error or errno value
  std::string trace;   // trace: where the counts go
};

Settings settings;
bool started = false;  // the run has opened Filelist.000
bool armed = false;    // the hooks count and fail; off while they do work of their own
std::map<std::string, long> counts;

unsigned error_named(const std::string& name) {
  static const std::map<std::string, unsigned> kErrors = {
      {"ERROR_IO_DEVICE", ERROR_IO_DEVICE},
      {"ERROR_DISK_FULL", ERROR_DISK_FULL},
      {"ERROR_ACCESS_DENIED", ERROR_ACCESS_DENIED},
      {"ERROR_SHARING_VIOLATION", ERROR_SHARING_VIOLATION},
      {"ERROR_LOCK_VIOLATION", ERROR_LOCK_VIOLATION},
      {"ERROR_NOT_SAME_DEVICE", ERROR_NOT_SAME_DEVICE},
      {"EIO", EIO},
      {"ENOSPC", ENOSPC},
      {"EACCES", EACCES},
  };
  const auto found = kErrors.find(name);
  if (found == kErrors.end()) {
    std::fprintf(stderr, "windows_faults: unknown error %s\n", name.c_str());
    std::exit(125);
  }
  return found->second;
}

// Counts a call of `name` and tells how it must end: the error it fails with, or 0 to make
// it. The process ends here when this call is the one to kill at.
unsigned fault_at(const char* name) {
  if (!armed || !started) return 0;
  const long number = ++counts[name];
  if ((settings.mode != Mode::fail && settings.mode != Mode::kill) || settings.call != name ||
      settings.number != number) {
    return 0;
  }
  if (settings.mode == Mode::kill) TerminateProcess(GetCurrentProcess(), 1009);
  return settings.error;
}

// The hooks, one per call: each asks fault_at(), then fails as the call fails (Win32: its
// failure value and SetLastError; C runtime: its failure value and errno) or makes the real
// call through the pointer the import table held.
#define WIN32_HOOK(name, type, failure, params, args)        \
  type(WINAPI* real_##name) params = nullptr;                 \
  type WINAPI hooked_##name params {                          \
    if (const unsigned error = fault_at(#name)) {             \
      SetLastError(error);                                    \
      return failure;                                         \
    }                                                         \
    return real_##name args;                                  \
  }
#define CRT_HOOK(name, type, failure, params, args) \
  type(__cdecl* real_##name) params = nullptr;        \
  type __cdecl hooked_##name params {                 \
    if (const unsigned error = fault_at(#name)) {     \
      errno = static_cast<int>(error);                \
      return failure;                                 \
    }                                                 \
    return real_##name args;                          \
  }

WIN32_HOOK(SetFileInformationByHandle, BOOL, FALSE,
           (HANDLE a, FILE_INFO_BY_HANDLE_CLASS b, LPVOID c, DWORD d), (a, b, c, d))
WIN32_HOOK(GetFileInformationByHandle, BOOL, FALSE, (HANDLE a, LPBY_HANDLE_FILE_INFORMATION b),
           (a, b))
WIN32_HOOK(GetFileInformationByHandleEx, BOOL, FALSE,
           (HANDLE a, FILE_INFO_BY_HANDLE_CLASS b, LPVOID c, DWORD d), (a, b, c, d))
WIN32_HOOK(GetFinalPathNameByHandleW, DWORD, 0, (HANDLE a, LPWSTR b, DWORD c, DWORD d),
           (a, b, c, d))
WIN32_HOOK(FindFirstFileExW, HANDLE, INVALID_HANDLE_VALUE,
           (LPCWSTR a, FINDEX_INFO_LEVELS b, LPVOID c, FINDEX_SEARCH_OPS d, LPVOID e, DWORD f),
           (a, b, c, d, e, f))
WIN32_HOOK(FindClose, BOOL, FALSE, (HANDLE a), (a))
WIN32_HOOK(GetFileType, DWORD, FILE_TYPE_UNKNOWN, (HANDLE a), (a))
WIN32_HOOK(CloseHandle, BOOL, FALSE, (HANDLE a), (a))
WIN32_HOOK(GetFullPathNameW, DWORD, 0, (LPCWSTR a, DWORD b, LPWSTR c, LPWSTR* d), (a, b, c, d))
WIN32_HOOK(DeleteFileW, BOOL, FALSE, (LPCWSTR a), (a))
WIN32_HOOK(WriteConsoleW, BOOL, FALSE, (HANDLE a, const VOID* b, DWORD c, LPDWORD d, LPVOID e),
           (a, b, c, d, e))
CRT_HOOK(_write, int, -1, (int a, const void* b, unsigned c), (a, b, c))
CRT_HOOK(_open_osfhandle, int, -1, (intptr_t a, int b), (a, b))
CRT_HOOK(_fdopen, FILE*, nullptr, (int a, const char* b), (a, b))
CRT_HOOK(fclose, int, EOF, (FILE * a), (a))
CRT_HOOK(fsetpos, int, -1, (FILE * a, const fpos_t* b), (a, b))
CRT_HOOK(fgetpos, int, -1, (FILE * a, fpos_t* b), (a, b))

// Opening the archive is where start-up ends.
HANDLE(WINAPI* real_CreateFileW)
(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) = nullptr;
HANDLE WINAPI hooked_CreateFileW(LPCWSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e,
                                 DWORD f, HANDLE g) {
  const std::size_t length = std::wcslen(a);
  started = started || (length >= 12 && std::wcscmp(a + length - 12, L"Filelist.000") == 0);
  if (const unsigned error = fault_at("CreateFileW")) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  return real_CreateFileW(a, b, c, d, e, f, g);
}

// A read that fails leaves the stream's error indicator set, as the C runtime's own does.
std::size_t(__cdecl* real_fread)(void*, std::size_t, std::size_t, FILE*) = nullptr;
std::size_t __cdecl hooked_fread(void* a, std::size_t b, std::size_t c, FILE* d) {
  if (const unsigned error = fault_at("fread")) {
    d->_flag |= _IOERR;
    errno = static_cast<int>(error);
    return 0;
  }
  return real_fread(a, b, c, d);
}

// Closing a descriptor; in the plant mode, a file of the run's temporary name is followed
// at once by another program's file under that name.
int(__cdecl* real__close)(int) = nullptr;
int __cdecl hooked__close(int fd) {
  if (const unsigned error = fault_at("_close")) {
    errno = static_cast<int>(error);
    return -1;
  }
  wchar_t path[MAX_PATH * 4];
  DWORD length = 0;
  if (settings.mode == Mode::plant) {
    length = GetFinalPathNameByHandleW(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), path,
                                       MAX_PATH * 4, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  }
  const int closed = real__close(fd);
  const std::wstring name = length > 0 && length < MAX_PATH * 4 ? path : L"";
  const std::size_t last = name.rfind(L'\\');
  if (last != std::wstring::npos && name.compare(last + 1, 13, L".sfx-extract-") == 0 &&
      name.size() > 4 && name.compare(name.size() - 4, 4, L".tmp") == 0) {
    const HANDLE planted = real_CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(planted, "planted", 7, &written, nullptr);
    real_CloseHandle(planted);
  }
  return closed;
}

struct Hook {
  const char* name;
  void* hook;
  void** real;
};

#define HOOK(name) {#name, reinterpret_cast<void*>(&hooked_##name), reinterpret_cast<void**>(&real_##name)}
const Hook kHooks[] = {
    HOOK(CreateFileW), HOOK(SetFileInformationByHandle), HOOK(GetFileInformationByHandle),
    HOOK(GetFileInformationByHandleEx), HOOK(GetFinalPathNameByHandleW), HOOK(FindFirstFileExW),
    HOOK(FindClose), HOOK(GetFileType), HOOK(CloseHandle), HOOK(GetFullPathNameW),
    HOOK(DeleteFileW), HOOK(WriteConsoleW), HOOK(_write), HOOK(_close), HOOK(fread),
    HOOK(_open_osfhandle), HOOK(_fdopen), HOOK(fclose), HOOK(fsetpos), HOOK(fgetpos),
};

// Points the program's import table entries for the calls in kHooks at the hooks.
void patch_imports() {
  auto* const base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* module = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       module->Name != 0; ++module) {
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const char* name = reinterpret_cast<const char*>(
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name);
      for (const Hook& hook : kHooks) {
        if (std::strcmp(name, hook.name) != 0) continue;
        DWORD protection = 0;
        VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
        *hook.real = reinterpret_cast<void*>(slots->u1.Function);
        slots->u1.Function = reinterpret_cast<decltype(slots->u1.Function)>(hook.hook);
        VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
      }
    }
  }
  for (const Hook& hook : kHooks) {
    if (*hook.real == nullptr) {
      std::fprintf(stderr, "windows_faults: the program imports no %s\n", hook.name);
      std::exit(125);
    }
  }
}

void write_trace() {
  armed = false;
  FILE* trace = std::fopen(settings.trace.c_str(), "w");
  if (trace == nullptr) std::exit(125);
  for (const auto& [name, count] : counts) std::fprintf(trace, "%s %ld\n", name.c_str(), count);
  std::fclose(trace);
}

// Reads SFX_FAULTS and sets the hooks up, before main.
struct Setup {
  Setup() {
    const char* setting = std::getenv("SFX_FAULTS");
    if (setting == nullptr) return;
    const std::string text = setting;
    const std::size_t equals = text.find('=');
    const std::string mode = text.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : text.substr(equals + 1);
    if (mode == "trace") {
      settings.mode = Mode::trace;
      settings.trace = value;
      std::atexit(write_trace);
    } else if (mode == "fail" || mode == "kill") {
      settings.mode = mode == "fail" ? Mode::fail : Mode::kill;
      const std::size_t first = value.find(':');
      const std::size_t last = value.rfind(':');
      settings.call = value.substr(0, first);
      settings.number = std::atol(value.c_str() + last + 1);
      if (mode == "fail") settings.error = error_named(value.substr(first + 1, last - first - 1));
    } else if (mode == "plant") {
      settings.mode = Mode::plant;
    } else {
      std::fprintf(stderr, "windows_faults: unknown SFX_FAULTS %s\n", setting);
      std::exit(125);
    }
    patch_imports();
    armed = true;
  }
} setup;

}  // namespace
