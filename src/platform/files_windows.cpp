// Windows side of the file layer.  Names are taken as UTF-8 (what GUIs
// send), or in the system's code page when they are not valid UTF-8.
// Anything that is not a file on disk (a folder, a device such as NUL, CON
// or COM1, a named pipe) is refused before it is opened where the name
// shows it, and after the open by the handle's kind otherwise.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cwctype>

#include "platform/files.h"

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
  char text[256] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                           sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.')) text[--n] = '\0';
  return n ? std::string(text) : "system error " + std::to_string(error);
}

bool missingError(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME;
}

// Whether the last part of the name is a reserved device name (CON, PRN,
// AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$, with or without an extension),
// or the whole name a device path (\\.\...).
bool namesDevice(const std::wstring& path) {
  if (path.rfind(L"\\\\.\\", 0) == 0 || path.rfind(L"//./", 0) == 0) return true;
  size_t start = path.find_last_of(L"\\/:");
  start = start == std::wstring::npos ? 0 : start + 1;
  std::wstring base = path.substr(start, path.find(L'.', start) - start);
  while (!base.empty() && base.back() == L' ') base.pop_back();
  for (wchar_t& c : base) c = (wchar_t)std::towupper(c);
  if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" || base == L"CONIN$" ||
      base == L"CONOUT$")
    return true;
  return base.size() == 4 && (base.rfind(L"COM", 0) == 0 || base.rfind(L"LPT", 0) == 0) && base[3] >= L'1' &&
         base[3] <= L'9';
}

// Opens a file on disk, never a folder or device.  INVALID_HANDLE_VALUE
// with *problem saying why (empty when the file is missing and
// missingIsSilent).
HANDLE openDiskFile(const char* path, DWORD access, DWORD creation, std::string* problem,
                    bool missingIsSilent = false) {
  errno = 0;
  const std::wstring name = widen(path);
  if (name.empty()) {
    errno = ENOENT;
    *problem = missingIsSilent ? "" : "No such file or directory";
    return INVALID_HANDLE_VALUE;
  }
  if (namesDevice(name)) {
    *problem = "a device, not a file";
    return INVALID_HANDLE_VALUE;
  }
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *problem = "a directory, not a file";
    return INVALID_HANDLE_VALUE;
  }
  HANDLE file = CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            creation, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (missingError(error)) errno = ENOENT;
    *problem = missingIsSilent && missingError(error) ? "" : reason(error);
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

FILE* fopenWithoutWaiting(const char* path, const char* mode, bool, std::string* problem) {
  const bool reading = mode[0] == 'r', appending = mode[0] == 'a';
  const DWORD access = reading ? GENERIC_READ : GENERIC_WRITE;
  const DWORD creation = reading ? OPEN_EXISTING : appending ? OPEN_ALWAYS : CREATE_ALWAYS;
  HANDLE file = openDiskFile(path, access, creation, problem);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  const int flags = reading ? _O_RDONLY | _O_BINARY : appending ? _O_WRONLY | _O_APPEND : _O_WRONLY | _O_BINARY;
  const int fd = _open_osfhandle((intptr_t)file, flags);
  if (fd == -1) {
    CloseHandle(file);
    *problem = "no file descriptor left";
    return nullptr;
  }
  FILE* stream = _fdopen(fd, mode);
  if (!stream) {
    _close(fd);
    *problem = "no stream left";
  }
  return stream;
}

MapStatus mapReadOnly(const std::string& path, FileMapping* mapping, std::string* problem) {
  HANDLE file = openDiskFile(path.c_str(), GENERIC_READ, OPEN_EXISTING, problem, true);
  if (file == INVALID_HANDLE_VALUE) return problem->empty() ? MapStatus::Missing : MapStatus::Unopenable;
  LARGE_INTEGER size{};
  const void* base = nullptr;
  if (!GetFileSizeEx(file, &size)) *problem = reason(GetLastError());
  else if (size.QuadPart == 0) *problem = "empty file";
  else if (HANDLE map = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr)) {
    base = MapViewOfFile(map, FILE_MAP_READ, 0, 0, 0);
    if (!base) *problem = reason(GetLastError());
    CloseHandle(map);  // the view keeps the mapping alive
  } else {
    *problem = reason(GetLastError());
  }
  CloseHandle(file);
  if (!base) return MapStatus::Unmappable;
  mapping->data = static_cast<const uint8_t*>(base);
  mapping->size = (size_t)size.QuadPart;
  return MapStatus::Mapped;
}

void unmapReadOnly(FileMapping& mapping) {
  if (!mapping.data) return;
  UnmapViewOfFile(mapping.data);
  mapping = FileMapping{};
}

bool regularFileReadable(const std::string& path, std::string* problem) {
  HANDLE file = openDiskFile(path.c_str(), GENERIC_READ, OPEN_EXISTING, problem, true);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

FolderStatus checkFolder(const std::string& dir, std::string* problem) {
  const DWORD attributes = GetFileAttributesW(widen(dir.c_str()).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    *problem = reason(GetLastError());
    return FolderStatus::Unreadable;
  }
  return attributes & FILE_ATTRIBUTE_DIRECTORY ? FolderStatus::Usable : FolderStatus::NotAFolder;
}
