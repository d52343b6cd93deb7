// The Windows limit: writes the files a "many-COUNT" run would, entry000000.sfx onward, each
// holding SIZE bytes already in memory, with nothing but the calls that sfx-extract's
// guarantee needs on Windows (an output name never shows a partial entry, and a name that
// held a file holds it until the whole new one takes its place): a temporary file created
// new with DELETE access, marked for deletion while it is written (a killed run leaves
// nothing), unmarked, and renamed over its name through its own handle (FileRenameInfo,
// replacing), the report lines batched 64 KiB to a write. In the look form the name is
// looked at first, as replacing safely needs: opened without following a link, its
// attributes, links and identity had (GetFileInformationByHandle) and its long name
// (GetFinalPathNameByHandleW), then closed.
// Usage: windows_limit COUNT SIZE new|look (in the current folder)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool set_deletion(HANDLE file, bool marked) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = marked ? TRUE : FALSE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

bool rename_replacing(HANDLE file, const std::wstring& path) {
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + sizeof(WCHAR) * path.size());
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(sizeof(WCHAR) * path.size());
  path.copy(info->FileName, path.size());
  info->FileName[path.size()] = L'\0';
  return SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size()));
}

bool look(const std::wstring& path) {
  const HANDLE file = CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  BY_HANDLE_FILE_INFORMATION info;
  wchar_t name[MAX_PATH];
  const bool seen = GetFileInformationByHandle(file, &info) &&
                    GetFinalPathNameByHandleW(file, name, MAX_PATH,
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_NONE) > 0;
  CloseHandle(file);
  return seen;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 4 ? argv[3] : "";
  if (mode != "new" && mode != "look") {
    std::fprintf(stderr, "usage: windows_limit COUNT SIZE new|look\n");
    return 2;
  }
  const long count = std::atol(argv[1]);
  const std::size_t size = std::strtoul(argv[2], nullptr, 10);
  const std::vector<char> bytes(size, 'x');
  wchar_t folder[MAX_PATH];
  const DWORD length = GetCurrentDirectoryW(MAX_PATH, folder);
  const std::wstring prefix = L"\\\\?\\" + std::wstring(folder, length) + L"\\";
  const std::wstring temporary = prefix + L".limit.tmp";
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  std::string report;
  for (long i = 0; i < count; ++i) {
    wchar_t name[32];
    std::swprintf(name, 32, L"entry%06ld.sfx", i);
    const std::wstring path = prefix + name;
    const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    DWORD written = 0;
    const bool done = file != INVALID_HANDLE_VALUE && set_deletion(file, true) &&
                      WriteFile(file, bytes.data(), static_cast<DWORD>(size), &written, nullptr) &&
                      written == size && set_deletion(file, false) &&
                      (mode == "new" || look(path)) && rename_replacing(file, path);
    if (!done || !CloseHandle(file)) {
      std::fprintf(stderr, "windows_limit: entry %ld: error %lu\n", i, GetLastError());
      return 1;
    }
    char line[64];
    report.append(line, static_cast<std::size_t>(std::snprintf(
                            line, sizeof line, "entry%06ld.sfx len: %zu loc: %zx\r\n", i, size,
                            static_cast<std::size_t>(i) * size)));
    if (report.size() > 60000 || i + 1 == count) {
      if (!WriteFile(out, report.data(), static_cast<DWORD>(report.size()), &written, nullptr)) {
        return 1;
      }
      report.clear();
    }
  }
  return 0;
}
