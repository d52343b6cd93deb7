// The file helpers on Windows: every file is opened through the wide calls, by its full
// path in the \\?\ form.
#include "common/file_windows.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>

namespace sfx {

int DescriptorClosing::close(int fd) { return _close(fd); }

std::size_t write_fully(int fd, const char* data, std::size_t size) {
  std::size_t written = 0;
  while (written < size) {
    const int wrote = _write(fd, data + written, static_cast<unsigned>(size - written));
    if (wrote <= 0) {
      if (wrote == 0) errno = EIO;
      break;
    }
    written += static_cast<std::size_t>(wrote);
  }
  return written;
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
  return {info.dwVolumeSerialNumber, std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow,
          true};
}

FileIdentity identity_of(std::FILE* stream) {
  BY_HANDLE_FILE_INFORMATION info;
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(handle, &info)) {
    return {};
  }
  return identity_of_information(info);
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

unsigned long process_id() { return GetCurrentProcessId(); }

}  // namespace sfx
