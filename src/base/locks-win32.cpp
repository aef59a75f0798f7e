// Windows side of the locks a run takes: its folder's lock file and the scanner's named mutex.
// Both die with the process, however it ends.

#include <windows.h>
#include <sddl.h>

#include <cstring>

#include "base/error.h"
#include "base/file.h"
#include "base/messages.h"
#include "base/os.h"
#include "base/win32_text.h"

namespace qvl {

bool HeldElsewhere(SystemError error) {
  return !error.c_runtime && error.code == ERROR_SHARING_VIOLATION;
}

bool LockFolder(const std::string& folder, int grace_ms) {
  std::string path = JoinPath(folder, kLockFileName);
  // Shared with nobody and deleted on close: a second opener is refused whatever path it takes,
  // and the file goes when the process ends, however it ends. The handle stays open until then.
  // A run that is ending still holds it for a moment, and then may leave it pending deletion
  // (refused as access denied): both pass within the grace.
  for (int waited = 0;; waited += 50) {
    HANDLE lock =
        CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (lock != INVALID_HANDLE_VALUE) return true;
    DWORD error = GetLastError();
    bool passing = HeldElsewhere({error, false}) || error == ERROR_ACCESS_DENIED;
    if (passing && waited < grace_ms) {
      Sleep(50);
      continue;
    }
    if (HeldElsewhere({error, false})) return false;
    throw RunError(CreateErrorMessage(path, {error, false}));
  }
}

namespace {
HANDLE g_scanner_lock = nullptr;
}  // namespace

bool TakeNamedMutex(const std::wstring& name, const NamedMutexCalls& calls, int grace_ms) {
  HANDLE mutex = nullptr;
  DWORD error = 0;
  // Waiting needs SYNCHRONIZE alone, and a mutex owned by a wait needs nothing more: the
  // process's end lets go of it. One that vanishes between the two calls (its last holder has
  // just ended) is simply created again.
  for (int attempt = 0; !mutex && attempt < 3; ++attempt) {
    mutex = calls.create(name.c_str());
    error = mutex ? 0 : GetLastError();
    if (!mutex && error == ERROR_ACCESS_DENIED) {
      mutex = calls.open_for_waiting(name.c_str());
      error = mutex ? 0 : GetLastError();
    }
    if (!mutex && error != ERROR_FILE_NOT_FOUND) break;
  }
  if (!mutex) {
    throw RunError(
        Say(Message::kCannotLock, {{"path", Narrow(name)}, {"reason", Win32ErrorText(error)}}));
  }
  // Owned by this thread until the process ends; a run that died leaves it abandoned, which the
  // next run takes over as free, and one still ending lets it go within the grace. The handle
  // stays open until then.
  DWORD waited = WaitForSingleObject(mutex, static_cast<DWORD>(grace_ms));
  bool owned = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
  if (owned) g_scanner_lock = mutex;
  return owned;
}

void ReleaseScanner() {
  if (!g_scanner_lock) return;
  ReleaseMutex(g_scanner_lock);  // owned by this thread, which took it
  CloseHandle(g_scanner_lock);
  g_scanner_lock = nullptr;
}

namespace {

// Every local user may wait on the lock and own it: the scanner is the computer's, whoever's
// session a capture runs in.
HANDLE CreateSharedMutex(const wchar_t* name) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;0x00100001;;;WD)", SDDL_REVISION_1,
                                                       &descriptor, nullptr);
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  // Asking for no more than the descriptor grants: CreateMutexW would ask for full access, which
  // the descriptor gives nobody, and every start after the first would be refused it.
  HANDLE mutex =
      CreateMutexExW(descriptor ? &attributes : nullptr, name, 0, SYNCHRONIZE | MUTEX_MODIFY_STATE);
  DWORD error = GetLastError();
  LocalFree(descriptor);
  SetLastError(error);
  return mutex;
}

HANDLE OpenMutexForWaiting(const wchar_t* name) { return OpenMutexW(SYNCHRONIZE, FALSE, name); }

}  // namespace

bool LockScanner() {
  // Global\: one for the whole computer, as the scanner is; a user's capture left waiting in a
  // switched-away session still holds it.
  wchar_t custom[128];
  DWORD length = GetEnvironmentVariableW(L"QVLCAPTURE_SCANNER_LOCK", custom, 128);
  std::wstring name = ScannerLockName(length < 128 ? std::wstring(custom, length) : L"");
  return TakeNamedMutex(name, {CreateSharedMutex, OpenMutexForWaiting}, kLockGraceMilliseconds);
}

std::wstring ScannerLockName(const std::wstring& custom) {
  if (custom.empty()) return L"Global\\qvlcapture-scanner";
  for (const wchar_t* scope : {L"Global\\", L"Local\\"}) {
    std::size_t size = std::wcslen(scope);
    if (custom.size() > size && _wcsnicmp(custom.c_str(), scope, size) == 0) return custom;
  }
  return L"Global\\" + custom;
}

}  // namespace qvl
