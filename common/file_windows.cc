// The file helpers on Windows: every file is opened through the wide calls, by its full
// path in the \\?\ form.
#include "common/file_windows.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "common/diagnostics.h"

namespace sfx {

int DescriptorClosing::close(int fd) { return _close(fd); }

long write_once(int fd, const char* data, std::size_t size) {
  // _write takes an unsigned count and returns an int.
  const auto count = static_cast<unsigned>(std::min<std::size_t>(size, INT_MAX));
  return _write(fd, data, count);
}

std::optional<std::wstring> decoded(std::string_view bytes, unsigned code_page) {
  if (bytes.empty()) return std::wstring();
  const int size = static_cast<int>(bytes.size());
  const int length =
      MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  if (MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes.data(), size, wide.data(),
                          length) != length) {
    return std::nullopt;
  }
  return wide;
}

CodePageCharacter character_at(std::string_view bytes, unsigned code_page) {
  CPINFO info;
  const std::size_t longest = GetCPInfo(code_page, &info) ? info.MaxCharSize : 1;
  // The shortest sequence that decodes is the character: a lead byte alone decodes to none.
  for (std::size_t length = 1; length <= longest && length <= bytes.size(); ++length) {
    wchar_t units[2];
    const int count = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes.data(),
                                          static_cast<int>(length), units, 2);
    if (count == 1) return {length, units[0]};
    if (count == 2 && IS_SURROGATE_PAIR(units[0], units[1])) {
      return {length, 0x10000u + ((units[0] - 0xD800u) << 10) + (units[1] - 0xDC00u)};
    }
  }
  return {};
}

std::wstring long_path(std::string_view path) {
  const std::optional<std::wstring> wide = decoded(path.empty() ? "." : path);
  if (!wide) return L"";
  const DWORD size = GetFullPathNameW(wide->c_str(), 0, nullptr, nullptr);
  std::wstring full(size, L'\0');
  const DWORD length = size > 0 ? GetFullPathNameW(wide->c_str(), size, full.data(), nullptr) : 0;
  if (length == 0 || length >= size) return L"";
  full.resize(length);
  if (full.rfind(L"\\\\?\\", 0) == 0 || full.rfind(L"\\\\.\\", 0) == 0) return full;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share
  return L"\\\\?\\" + full;
}

File open_regular_for_reading(const std::string& path) {
  const std::wstring full = long_path(path);
  if (full.empty()) return File();
  // Shared as fopen shares it. A folder cannot be opened this way (it takes
  // FILE_FLAG_BACKUP_SEMANTICS), and a device is no disk file.
  const HANDLE handle = CreateFileW(full.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return File();
  const int fd = GetFileType(handle) == FILE_TYPE_DISK
                     ? _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY)
                     : -1;
  if (fd < 0) {
    CloseHandle(handle);
    return File();
  }
  File file(_fdopen(fd, "rb"));
  if (!file) _close(fd);
  return file;
}

FileIdentity identity_of_information(const BY_HANDLE_FILE_INFORMATION& info) {
  return {FileIdentity::Way::volume_and_index, info.dwVolumeSerialNumber,
          std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow, 0};
}

std::optional<FileIdentity> file_id_of(HANDLE handle) {
  FILE_ID_INFO info;
  if (!GetFileInformationByHandleEx(handle, FileIdInfo, &info, sizeof info)) return std::nullopt;
  std::uint64_t halves[2];
  static_assert(sizeof halves == sizeof info.FileId.Identifier, "a file ID is 128 bits");
  std::memcpy(halves, info.FileId.Identifier, sizeof halves);
  return FileIdentity{FileIdentity::Way::volume_and_file_id, info.VolumeSerialNumber, halves[0],
                      halves[1]};
}

FileIdentity identity_of(std::FILE* stream, std::string& why, bool by_file_id) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (handle == INVALID_HANDLE_VALUE) return {};
  FileIdentity cannot_tell{FileIdentity::Way::cannot_tell, 0, 0, 0};
  // FILE_TYPE_UNKNOWN with an error means that the type could not be had, not that it is no
  // file.
  SetLastError(NO_ERROR);
  const DWORD type = GetFileType(handle);
  if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) {
    why = windows_error(GetLastError());
    return cannot_tell;
  }
  if (type != FILE_TYPE_DISK) return {};
  // A handle that a POSIX shell gave a program under Wine answers only FileIdInfo.
  BY_HANDLE_FILE_INFORMATION info;
  if (!by_file_id && GetFileInformationByHandle(handle, &info)) return identity_of_information(info);
  if (const std::optional<FileIdentity> file_id = file_id_of(handle)) return *file_id;
  why = windows_error(GetLastError());
  return cannot_tell;
}

bool seek_absolute(std::FILE* stream, std::int64_t offset) {
  return _fseeki64(stream, offset, SEEK_SET) == 0;
}

bool open_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (_get_osfhandle(fd) != -1) continue;
    const int null_device = _open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
    if (null_device < 0) return false;
    if (null_device != fd) {
      const bool moved = _dup2(null_device, fd) == 0;
      _close(null_device);
      if (!moved) return false;
    }
  }
  return true;
}

bool is_terminal(int fd) {
  DWORD mode = 0;
  return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &mode) != 0;
}

bool write_to_terminal(int fd, std::string_view text) {
  const std::optional<std::wstring> wide = decoded(text);
  if (!wide) return write_fully(fd, text.data(), text.size()) == text.size();
  // Line ends as the text-mode stream writes them.
  std::wstring lines;
  for (const wchar_t c : *wide) {
    if (c == L'\n') lines += L'\r';
    lines += c;
  }
  const auto console = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  for (std::size_t at = 0; at < lines.size();) {
    DWORD written = 0;
    if (!WriteConsoleW(console, lines.data() + at, static_cast<DWORD>(lines.size() - at), &written,
                       nullptr) ||
        written == 0) {
      errno = EIO;
      return false;
    }
    at += written;
  }
  return true;
}

unsigned long process_id() { return GetCurrentProcessId(); }

}  // namespace sfx
