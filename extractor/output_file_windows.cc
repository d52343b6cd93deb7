// Outputs on Windows, one way: the entry is written into a file under a temporary name of
// the tool's own, marked for deletion while it is written (so that even a killed run leaves
// nothing behind), then unmarked and renamed onto its name through its own handle
// (FileRenameInfo), which no other program's open of that file can block. A run killed in
// the instant between the two leaves the finished file under its temporary name.
//
// Names are decoded once (windows_names.h) and every call is a wide one on the full path in
// the \\?\ form, so no length limit applies and nothing reinterprets the name. A name can
// still reach a file that bears another one, its 8.3 short name: the look takes the name
// the file system has for what it found and refuses it unless that is the output's name.
//
// Virus scanners, indexers and backup tools open files for a moment. An output's name that
// such a program holds refuses the rename (sharing violation, access denied, lock
// violation): the rename is tried again with growing pauses, about 1.3 s in all, before
// the entry fails. A temporary name that is refused (still held, or its deletion still
// pending) gives way to the next one.
#include <fcntl.h>
#include <io.h>

#include <string>
#include <vector>

#include "common/diagnostics.h"
#include "common/file_windows.h"
#include "extractor/entry_names.h"
#include "extractor/output_file.h"
#include "extractor/windows_names.h"

namespace sfx {

using namespace output_detail;

namespace {

std::wstring_view last_component(std::wstring_view path) {
  return path.substr(path.rfind(L'\\') + 1);
}

// The long name (never the 8.3 one) of the file that `path` names: FindFirstFileEx's
// cFileName, whose pattern is the name itself (no output name holds a wildcard). Wine's
// GetFinalPathNameByHandleW stops at MAX_PATH, so the query goes by name. None, with
// GetLastError(), when the system cannot tell it.
std::optional<std::wstring> long_name_of(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  const HANDLE search =
      FindFirstFileExW(path.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return std::nullopt;
  FindClose(search);
  return std::wstring(found.cFileName);
}

// What stands at the output's path `path`, looked at without following a link.
Existing look_at(const OutputFolder& folder, const std::wstring& path) {
  Existing existing;
  // The reparse point itself is opened, never what it points to; BACKUP_SEMANTICS lets a
  // folder or junction be opened so that it can be refused like any other.
  const HANDLE handle = CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND)
      existing.look_failure = "cannot create: " + windows_error(error);
    return existing;
  }
  existing.exists = true;
  const std::wstring_view name = last_component(path);
  const std::optional<std::wstring> long_name = long_name_of(path);
  BY_HANDLE_FILE_INFORMATION info;
  if (!long_name || !GetFileInformationByHandle(handle, &info)) {
    existing.look_failure = "cannot create: " + windows_error(GetLastError());
  } else if (CompareStringOrdinal(long_name->data(), static_cast<int>(long_name->size()),
                                  name.data(), static_cast<int>(name.size()), TRUE) != CSTR_EQUAL) {
    // A short name, most likely: replacing it would replace a file named otherwise.
    existing.refusal = "cannot create: the name reaches " + printable(*long_name);
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

// Renames the open file to the full path `path`, replacing a file there if `replace`.
bool rename_to(HANDLE handle, const std::wstring& path, bool replace) {
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + sizeof(WCHAR) * path.size());
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = replace ? TRUE : FALSE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(sizeof(WCHAR) * path.size());
  path.copy(info->FileName, path.size());
  info->FileName[path.size()] = L'\0';
  return SetFileInformationByHandle(handle, FileRenameInfo, info,
                                    static_cast<DWORD>(buffer.size())) != 0;
}

// `name` in the folder whose long path is `folder`.
std::wstring path_in_folder(const std::wstring& folder, std::wstring_view name) {
  std::wstring path = folder;
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  return path.append(name);
}

}  // namespace

std::optional<OutputName> plain_output_name(std::string_view listed) {
  if (!is_plain_file_name(listed)) return std::nullopt;
  std::optional<std::wstring> wide = windows_file_name(listed, CP_ACP);
  if (!wide) return std::nullopt;
  return OutputName{std::string(listed), std::move(*wide)};
}

bool PendingOutput::name_taken() const { return look_at(*folder_, path_).exists; }

bool PendingOutput::begin(OutputFolder& folder, const OutputName& name, std::string& why) {
  folder_ = &folder;
  const std::wstring folder_path = long_path(folder.path);
  if (folder_path.empty()) {
    why = "cannot create: " + windows_error(ERROR_BAD_PATHNAME);
    return false;
  }
  path_ = path_in_folder(folder_path, name.native);
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
    const std::string ascii = temporary_name(attempt);
    const std::wstring temporary =
        path_in_folder(folder_path, std::wstring(ascii.begin(), ascii.end()));
    // The reparse point flag: a link planted under the temporary name is never followed.
    const HANDLE handle = CreateFileW(
        temporary.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
        CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      error = GetLastError();
      // Taken, held by another program, or its deletion still pending: the next one.
      if (error == ERROR_FILE_EXISTS || is_held(error)) continue;
      break;
    }
    // From here the file is owned: a failure below closes it, and the mark or the name
    // deletes it.
    temporary_ = temporary;
    closing_deletes_ = mark_for_deletion(handle, true);
    const DWORD mark_error = GetLastError();
    file_ = Descriptor(_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY));
    if (!file_) {
      why = "cannot create: " + os_error(errno);
      CloseHandle(handle);
      return false;
    }
    if (!closing_deletes_) why = "cannot create: " + windows_error(mark_error);
    return closing_deletes_;
  }
  why = "cannot create: " + windows_error(error);
  return false;
}

InstallResult PendingOutput::install(std::string& why) {
  const Existing existing = look_at(*folder_, path_);
  if (!existing.look_failure.empty()) {
    why = existing.look_failure;
    return InstallResult::failed;
  }
  if (!existing.refusal.empty()) {
    why = existing.refusal;
    return InstallResult::refused;
  }
  // A file marked for deletion cannot be renamed; the mark comes back if the rename fails.
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file_.get()));
  const bool unmarked = mark_for_deletion(handle, false);
  if (unmarked) closing_deletes_ = false;
  if (unmarked && retrying([&] { return rename_to(handle, path_, existing.exists); })) {
    temporary_.clear();
    return InstallResult::installed;
  }
  why = (existing.exists ? "cannot replace: " : "cannot create: ") + windows_error(GetLastError());
  if (unmarked) closing_deletes_ = mark_for_deletion(handle, true);
  return InstallResult::failed;
}

void PendingOutput::discard() {
  file_.close();
  // A file still marked went with its handle; deleting its name again could delete a file
  // that another program has put there since.
  if (!temporary_.empty() && !closing_deletes_) DeleteFileW(temporary_.c_str());
  temporary_.clear();
}

}  // namespace sfx
