// Outputs on Windows, one way: the entry is written into a file under a temporary name of
// the tool's own, marked for deletion while it is written (so that even a killed run leaves
// nothing behind), then unmarked and renamed onto its name through its own handle
// (FileRenameInfo), which no other program's open of that file can block. A run killed in
// the instant between the two leaves the finished file under its temporary name.
//
// Virus scanners, indexers and backup tools open files for a moment. An output's name that
// such a program holds refuses the rename (sharing violation, access denied, lock
// violation): the rename is tried again with growing pauses, about 1.3 s in all, before
// the entry fails. A temporary name that is refused (still held, or its deletion still
// pending) gives way to the next one.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <string>
#include <vector>

#include "common/diagnostics.h"
#include "extractor/output_file.h"

namespace sfx {

using namespace output_detail;

namespace {

Existing look_at(const OutputFolder& folder, const std::string& path) {
  Existing existing;
  // The reparse point itself is opened, never what it points to; BACKUP_SEMANTICS lets a
  // folder or junction be opened so that it can be refused like any other.
  const HANDLE handle = CreateFileA(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) existing.look_failure = "cannot create: " + windows_error(error);
    return existing;
  }
  existing.exists = true;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) {
    existing.look_failure = "cannot create: " + windows_error(GetLastError());
  } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    existing.refusal = kSymbolicLink;
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
             GetFileType(handle) != FILE_TYPE_DISK) {
    existing.refusal = kNotRegular;
  } else if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
    // Windows itself refuses to replace such a file; saying so beats "Access is denied".
    existing.refusal = "cannot create: it is read-only";
  } else {
    existing.refusal = refusal_of(folder, identity_of_information(info), info.nNumberOfLinks);
  }
  CloseHandle(handle);
  return existing;
}

// Errors of a name that another program holds for a moment.
bool is_held(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_LOCK_VIOLATION;
}

// Runs `attempt` until it succeeds, or fails for another reason than a held name, or the
// pauses between tries (10, 20, ... 640 ms) are used up. GetLastError() then tells why.
template <typename Attempt>
bool retrying(Attempt attempt) {
  for (DWORD pause = 10;; pause *= 2) {
    if (attempt()) return true;
    if (!is_held(GetLastError()) || pause > 640) return false;
    Sleep(pause);
  }
}

// Marks the open file for deletion when its last handle closes, or takes the mark away.
bool mark_for_deletion(HANDLE handle, bool marked) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = marked ? TRUE : FALSE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

// Renames the open file to `path`, replacing a file there if `replace`.
bool rename_to(HANDLE handle, const std::string& path, bool replace) {
  // The full path in UTF-16, converted from the ANSI code page as CreateFileA does.
  std::wstring wide(MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
  const DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + sizeof(WCHAR) * length);
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  const DWORD written = GetFullPathNameW(wide.c_str(), length, info->FileName, nullptr);
  if (length == 0 || written == 0 || written >= length) return false;
  info->ReplaceIfExists = replace ? TRUE : FALSE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(sizeof(WCHAR) * written);
  return SetFileInformationByHandle(handle, FileRenameInfo, info,
                                    static_cast<DWORD>(buffer.size())) != 0;
}

}  // namespace

bool name_taken(const OutputFolder& folder, const std::string& name) {
  return look_at(folder, path_in(folder.path, name)).exists;
}

bool PendingOutput::begin(OutputFolder& folder, const std::string& name, std::string& why) {
  folder_ = &folder;
  name_ = name;
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
    const std::string temporary = temporary_path(folder, attempt);
    // The reparse point flag: a link planted under the temporary name is never followed.
    const HANDLE handle = CreateFileA(temporary.c_str(), GENERIC_WRITE | DELETE,
                                      FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      error = GetLastError();
      // Taken, held by another program, or its deletion still pending: the next one.
      if (error == ERROR_FILE_EXISTS || is_held(error)) continue;
      break;
    }
    // From here the file is owned: a failure below closes it, and the mark or the name
    // deletes it.
    temporary_ = temporary;
    const bool marked = mark_for_deletion(handle, true);
    const DWORD mark_error = GetLastError();
    file_ = Descriptor(_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY));
    if (!file_) {
      why = "cannot create: " + os_error(errno);
      CloseHandle(handle);
      return false;
    }
    if (!marked) why = "cannot create: " + windows_error(mark_error);
    return marked;
  }
  why = "cannot create: " + windows_error(error);
  return false;
}

InstallResult PendingOutput::install(std::string& why) {
  const std::string path = path_in(folder_->path, name_);
  const Existing existing = look_at(*folder_, path);
  if (existing.exists && !existing.look_failure.empty()) {
    why = existing.look_failure;
    return InstallResult::failed;
  }
  if (!existing.refusal.empty()) {
    why = existing.refusal;
    return InstallResult::refused;
  }
  // A file marked for deletion cannot be renamed; the mark comes back if the rename fails.
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file_.get()));
  if (mark_for_deletion(handle, false) &&
      retrying([&] { return rename_to(handle, path, existing.exists); })) {
    temporary_.clear();
    return InstallResult::installed;
  }
  why = (existing.exists ? "cannot replace: " : "cannot create: ") + windows_error(GetLastError());
  mark_for_deletion(handle, true);
  return InstallResult::failed;
}

void PendingOutput::discard() {
  file_.close();
  if (temporary_.empty()) return;
  DeleteFileA(temporary_.c_str());  // already gone where the deletion mark took effect
  temporary_.clear();
}

}  // namespace sfx
