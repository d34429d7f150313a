// VirtualAlloc memory: large pages where the account holds the privilege
// to lock pages in memory ("Lock pages in memory", SeLockMemoryPrivilege),
// ordinary pages otherwise, without a word to the user either way.  Large
// pages are resident from the allocation on, and ordinary ones are faulted
// in by the searches, so nothing is populated in the background here.
#include <windows.h>

#include <mutex>

#include "platform/pages.h"

namespace {

// The large-page size when the process may use large pages, else 0.  The
// privilege is enabled once, on the first large block.
size_t largePageSize() {
  static size_t size = 0;
  static std::once_flag once;
  std::call_once(once, [] {
    const size_t minimum = GetLargePageMinimum();
    if (minimum == 0) return;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    // AdjustTokenPrivileges succeeds without the privilege, saying so only
    // through the last error.
    if (LookupPrivilegeValueA(nullptr, "SeLockMemoryPrivilege", &privileges.Privileges[0].Luid) &&
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) && GetLastError() == ERROR_SUCCESS)
      size = minimum;
    CloseHandle(token);
  });
  return size;
}

}  // namespace

void* mapSmallBlock(size_t size) { return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE); }

void* mapLargeBlock(size_t size, bool* populate) {
  *populate = false;
  if (const size_t page = largePageSize()) {
    const size_t rounded = (size + page - 1) / page * page;
    if (void* block = VirtualAlloc(nullptr, rounded, MEM_RESERVE | MEM_COMMIT | MEM_LARGE_PAGES, PAGE_READWRITE))
      return block;
  }
  // Without large pages (or when the system has too few free ones now).
  return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void unmapBlock(void* block, size_t) { VirtualFree(block, 0, MEM_RELEASE); }

PopulateResult populatePages(char*, size_t) { return PopulateResult::Unsupported; }

void useSmallPages(char*, size_t) {}

double threadCpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
  auto seconds = [](const FILETIME& t) {
    return (double)(((unsigned long long)t.dwHighDateTime << 32) | t.dwLowDateTime) * 1e-7;
  };
  return seconds(kernel) + seconds(user);
}
