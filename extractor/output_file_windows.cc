// Outputs on Windows, one way: the entry is written into a file under a temporary name of
// the tool's own, marked for deletion while it is written (so that even a killed run leaves
// nothing behind), then unmarked and renamed onto its name through its own handle
// (FileRenameInfo), which no other program's open of that file can block. A run killed in
// the instant between the two leaves the finished file under its temporary name.
//
// Names are decoded once (entry_names.h) and every call is a wide one on the full path in
// the \\?\ form, so no length limit applies and nothing reinterprets the name. A name can
// still reach a file that bears another one, its 8.3 short name: the look takes the name
// the file system has for what it found and refuses it unless that is the output's name.
// And a file system can give a new file another name than the one asked for (Wine cuts a
// name of more than 255 bytes): after a rename that made a new name, the name is asked
// again, and a file under another name is deleted.
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
#include "extractor/output_file.h"

namespace sfx {

using namespace output_detail;

namespace {

std::wstring_view last_component(std::wstring_view path) {
  return path.substr(path.rfind(L'\\') + 1);
}

// The long name (never the 8.3 one) of the open file `handle`, reached by the full path
// `path`: the last component of the path the file system has for the handle
// (GetFinalPathNameByHandleW, normalized), or, where that fails (Wine past MAX_PATH),
// FindFirstFileEx's cFileName for `path`, whose pattern is the name itself (no output name
// holds a wildcard). None, with GetLastError(), when the system cannot tell it.
std::optional<std::wstring> long_name_of(HANDLE handle, const std::wstring& path) {
  std::wstring final_path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFinalPathNameByHandleW(handle, final_path.data(), static_cast<DWORD>(final_path.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_NONE);
    if (length == 0) break;
    if (length < final_path.size()) {
      final_path.resize(length);
      return std::wstring(last_component(final_path));
    }
    final_path.resize(length);  // too short: the size it takes
  }
  WIN32_FIND_DATAW found;
  const HANDLE search =
      FindFirstFileExW(path.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return std::nullopt;
  FindClose(search);
  return std::wstring(found.cFileName);
}

bool same_name(std::wstring_view a, std::wstring_view b) {
  // Windows' own comparison of file names: ordinal, ignoring case.
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// What stands at the output's path `path`, looked at without following a link. Its long
// name, attributes, links and identity all come from one handle, so they speak of one file.
// Its identity is taken only the way the folder's identities were (one way for all; the
// volume serial number that each way asks for costs Wine a round trip to another process).
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
  const auto taken = [&](FileIdentity::Way way) {
    for (const FileIdentity* identity : {&folder.archive, &folder.listing,
                                         &folder.standard_output, &folder.standard_error}) {
      if (identity->way == way) return true;
    }
    return false;
  };
  const std::optional<std::wstring> long_name = long_name_of(handle, path);
  FILE_ATTRIBUTE_TAG_INFO attributes;
  FILE_STANDARD_INFO standard;
  BY_HANDLE_FILE_INFORMATION info;
  std::optional<FileIdentity> by_file_id;
  const bool by_index = taken(FileIdentity::Way::volume_and_index);
  const bool seen =
      long_name &&
      GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &attributes, sizeof attributes) &&
      GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard) &&
      (!by_index || GetFileInformationByHandle(handle, &info)) &&
      (!taken(FileIdentity::Way::volume_and_file_id) || (by_file_id = file_id_of(handle)));
  if (!seen) {
    existing.look_failure = "cannot create: " + windows_error(GetLastError());
  } else if (!same_name(*long_name, last_component(path))) {
    // A short name, most likely: replacing it would replace a file named otherwise.
    existing.refusal = "cannot create: the name reaches " + printable(*long_name);
  } else if (attributes.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    existing.refusal = kSymbolicLink;
  } else if (standard.Directory || GetFileType(handle) != FILE_TYPE_DISK) {
    existing.refusal = kNotRegular;
  } else if (attributes.FileAttributes & FILE_ATTRIBUTE_READONLY) {
    // Windows itself refuses to replace such a file; saying so beats "Access is denied".
    existing.refusal = "cannot create: it is read-only";
  } else {
    const auto identity_taken_as = [&](FileIdentity::Way way) {
      if (way == FileIdentity::Way::volume_and_file_id) return *by_file_id;
      return by_index ? identity_of_information(info) : FileIdentity{};
    };
    existing.refusal = refusal_of(folder, identity_taken_as, standard.NumberOfLinks);
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

// The `attempt`th temporary name in the folder whose long path is `folder`.
std::wstring temporary_path(const std::wstring& folder, int attempt) {
  const std::string ascii = temporary_name(attempt);
  return path_in_folder(folder, std::wstring(ascii.begin(), ascii.end()));
}

}  // namespace

bool PendingOutput::discard_and_look() {
  discard();
  return look_at(*folder_, path_).exists;
}

bool PendingOutput::begin(OutputFolder& folder, const OutputName& name, std::string& why) {
  folder_ = &folder;
  // The folder's path, and with it the first temporary name, once per run.
  if (folder.long_path.empty()) {
    folder.long_path = long_path(folder.path);
    if (folder.long_path.empty()) {
      why = "cannot create: " + windows_error(ERROR_BAD_PATHNAME);
      return false;
    }
    folder.first_temporary = temporary_path(folder.long_path, 0);
  }
  path_ = path_in_folder(folder.long_path, name.native);
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
    const std::wstring temporary =
        attempt == 0 ? folder.first_temporary : temporary_path(folder.long_path, attempt);
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
  // A file marked for deletion cannot be renamed; the mark comes back if naming fails.
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file_.get()));
  if (!mark_for_deletion(handle, false)) {
    why = "cannot create: " + windows_error(GetLastError());
    return InstallResult::failed;
  }
  closing_deletes_ = false;
  const InstallResult result = rename_onto_name(handle, why);
  if (result == InstallResult::installed) {
    temporary_.clear();
  } else {
    closing_deletes_ = mark_for_deletion(handle, true);
  }
  return result;
}

InstallResult PendingOutput::rename_onto_name(void* handle, std::string& why) {
  Existing existing;
  bool looked = false;  // once the name is found taken, every try looks at it first
  for (DWORD pause = 10;;) {
    const bool replace = looked && existing.exists;
    if (rename_to(handle, path_, replace)) {
      return replace || named_as_output(handle, why) ? InstallResult::installed
                                                     : InstallResult::failed;
    }
    const DWORD error = GetLastError();
    // A rename that replaces nothing fails where a file stands under the name, under another
    // case of it, or under an 8.3 name equal to it: only then is the name looked at.
    const bool taken = !replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS);
    if (!taken || looked) {
      if (!(is_held(error) || taken) || pause > 640) {
        why = (replace ? "cannot replace: " : "cannot create: ") + windows_error(error);
        return InstallResult::failed;
      }
      Sleep(pause);
      pause *= 2;
      if (!looked) continue;  // a held name that was free is tried again as free
    }
    // The rename never outlives its look: the file under the name may be another by now.
    existing = look_at(*folder_, path_);
    looked = true;
    if (const std::optional<InstallResult> stop = stopped_by(existing, why)) return *stop;
  }
}

bool PendingOutput::named_as_output(void* handle, std::string& why) {
  const std::optional<std::wstring> name = long_name_of(handle, path_);
  if (name && same_name(*name, last_component(path_))) return true;
  why = name ? "the file system named it " + printable(*name)
             : "cannot tell the name the file system gave it: " + windows_error(GetLastError());
  // Should the deletion mark fail, the file is deleted by the name it has.
  temporary_.clear();
  if (name) temporary_ = path_.substr(0, path_.size() - last_component(path_).size()) + *name;
  return false;
}

void PendingOutput::discard() {
  file_.close();
  // A file still marked went with its handle; deleting its name again could delete a file
  // that another program has put there since.
  if (!temporary_.empty() && !closing_deletes_) DeleteFileW(temporary_.c_str());
  temporary_.clear();
}

}  // namespace sfx
