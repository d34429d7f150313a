// Windows side of the file layer.  Names are taken as UTF-8 (what GUIs
// send), or in the system's code page when they are not valid UTF-8.
// Anything that is not a file on disk (a folder, a device such as NUL, CON
// or COM1, a named pipe) is refused before it is opened where the name
// shows it, and after the open by the handle's kind otherwise.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cwctype>

#include "platform/files.h"
#include "platform/files_system.h"
#include "platform/files_windows.h"

namespace {

std::wstring widen(const char* text) {
  for (UINT codePage : {(UINT)CP_UTF8, (UINT)CP_ACP}) {
    const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    const int n = MultiByteToWideChar(codePage, flags, text, -1, nullptr, 0);
    if (n <= 0) continue;
    std::wstring wide((size_t)n, L'\0');
    MultiByteToWideChar(codePage, flags, text, -1, wide.data(), n);
    wide.resize((size_t)n - 1);
    return wide;
  }
  return std::wstring();
}

// The system's reason for an error, in the words the POSIX build uses for
// the common ones.
std::string reason(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: return "No such file or directory";
    case ERROR_ACCESS_DENIED: return "Permission denied";
    case ERROR_SHARING_VIOLATION: return "the file is in use by another process";
    default: break;
  }
  const std::string text = systemMessage(error, 0);
  return text.empty() ? "system error " + std::to_string(error) : text;
}

bool missingError(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME;
}

// Opens a file on disk, never a folder or device.  INVALID_HANDLE_VALUE
// with *problem saying why, and errno ENOENT when the file is missing.
HANDLE openDiskFile(const char* path, DWORD access, DWORD creation, std::string* problem) {
  errno = 0;
  const std::wstring name = widen(path);
  if (name.empty()) {
    errno = ENOENT;
    *problem = "No such file or directory";
    return INVALID_HANDLE_VALUE;
  }
  if (namesDevice(path)) {
    *problem = "a device, not a file";
    return INVALID_HANDLE_VALUE;
  }
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *problem = "a directory, not a file";
    return INVALID_HANDLE_VALUE;
  }
  // Replacing a hidden or system file fails unless the new file keeps
  // those attributes, so a save over one keeps them; a read-only file is
  // refused by the system.
  const DWORD kept = attributes == INVALID_FILE_ATTRIBUTES || creation != CREATE_ALWAYS
                         ? 0
                         : attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  HANDLE file = CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            creation, kept ? kept : FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (missingError(error)) errno = ENOENT;
    *problem = reason(error);
    return INVALID_HANDLE_VALUE;
  }
  const DWORD kind = GetFileType(file);
  if (kind != FILE_TYPE_DISK) {
    CloseHandle(file);
    *problem = kind == FILE_TYPE_PIPE ? "a pipe, not a file" : "a device, not a file";
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

}  // namespace

std::string systemMessage(unsigned long error, unsigned long language) {
  wchar_t text[512] = {};
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, language, text,
                           sizeof text / sizeof text[0], nullptr);
  while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n' || text[n - 1] == L'.' || text[n - 1] == L' ')) --n;
  if (n == 0) return std::string();
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, (int)n, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string utf8((size_t)bytes, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, (int)n, utf8.data(), bytes, nullptr, nullptr);
  return utf8;
}

// Windows takes the reserved names in any folder, with any extension, with
// trailing spaces, and with a colon after them ("NUL:", "COM1:"), as the
// device itself.
bool namesDevice(const char* path) {
  const std::wstring name = widen(path);
  if (name.rfind(L"\\\\.\\", 0) == 0 || name.rfind(L"//./", 0) == 0) return true;
  size_t end = name.size();
  while (end > 0 && name[end - 1] == L':') --end;
  const size_t cut = end == 0 ? std::wstring::npos : name.find_last_of(L"\\/:", end - 1);
  const size_t start = cut == std::wstring::npos ? 0 : cut + 1;
  std::wstring base = name.substr(start, std::min(name.find(L'.', start), end) - start);
  while (!base.empty() && base.back() == L' ') base.pop_back();
  for (wchar_t& c : base) c = (wchar_t)std::towupper(c);
  if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" || base == L"CONIN$" ||
      base == L"CONOUT$")
    return true;
  return base.size() == 4 && (base.rfind(L"COM", 0) == 0 || base.rfind(L"LPT", 0) == 0) && base[3] >= L'1' &&
         base[3] <= L'9';
}

bool openSystemFile(const char* path, OpenMode mode, bool, SystemFile* file, std::string* problem) {
  const DWORD access = mode == OpenMode::Read ? GENERIC_READ : GENERIC_WRITE;
  const DWORD creation = mode == OpenMode::Read ? OPEN_EXISTING : mode == OpenMode::Append ? OPEN_ALWAYS : CREATE_ALWAYS;
  HANDLE handle = openDiskFile(path, access, creation, problem);
  if (handle == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle, &size)) {
    *problem = reason(GetLastError());
    CloseHandle(handle);
    return false;
  }
  file->handle = (intptr_t)handle;
  file->size = size.QuadPart;
  return true;
}

FILE* streamFromSystemFile(SystemFile& file, const char* mode, std::string* problem) {
  const int flags = mode[0] == 'r' ? _O_RDONLY | _O_BINARY : mode[0] == 'a' ? _O_WRONLY | _O_APPEND : _O_WRONLY | _O_BINARY;
  const int fd = _open_osfhandle(file.handle, flags);
  if (fd == -1) {
    closeSystemFile(file);
    *problem = "no file descriptor left";
    return nullptr;
  }
  file.handle = -1;  // the descriptor owns the handle now
  FILE* stream = _fdopen(fd, mode);
  if (!stream) {
    _close(fd);
    *problem = "no stream left";
  }
  return stream;
}

bool mapSystemFile(const SystemFile& file, FileMapping* mapping, std::string* problem) {
  HANDLE map = CreateFileMappingW((HANDLE)file.handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!map) {
    *problem = reason(GetLastError());
    return false;
  }
  const void* base = MapViewOfFile(map, FILE_MAP_READ, 0, 0, 0);
  if (!base) *problem = reason(GetLastError());
  CloseHandle(map);  // the view keeps the mapping alive
  if (!base) return false;
  mapping->data = static_cast<const uint8_t*>(base);
  mapping->size = (size_t)file.size;
  return true;
}

void closeSystemFile(SystemFile& file) {
  if (file.handle != -1) CloseHandle((HANDLE)file.handle);
  file.handle = -1;
}

void unmapReadOnly(FileMapping& mapping) {
  if (!mapping.data) return;
  UnmapViewOfFile(mapping.data);
  mapping = FileMapping{};
}

// A file's size is its length on disk; anything else is measured by
// seeking to its end and back.
int64_t fileSize(FILE* file) {
  struct _stat64 info;
  const int fd = _fileno(file);
  if (fd >= 0 && _fstat64(fd, &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFREG) return info.st_size;
  const int64_t here = _ftelli64(file);
  if (here < 0 || _fseeki64(file, 0, SEEK_END) != 0) return -1;
  const int64_t end = _ftelli64(file);
  return _fseeki64(file, here, SEEK_SET) == 0 ? end : -1;
}

bool seekTo(FILE* file, int64_t offset) { return offset >= 0 && _fseeki64(file, offset, SEEK_SET) == 0; }

FolderStatus checkFolder(const std::string& dir, std::string* problem) {
  const DWORD attributes = GetFileAttributesW(widen(dir.c_str()).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    *problem = reason(GetLastError());
    return FolderStatus::Unreadable;
  }
  return attributes & FILE_ATTRIBUTE_DIRECTORY ? FolderStatus::Usable : FolderStatus::NotAFolder;
}
