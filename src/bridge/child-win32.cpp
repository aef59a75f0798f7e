// Windows side of the bridge's child runs: a Job object, so that a helper the library started
// ends with the run, and the run ends with the bridge.

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "base/command_line.h"
#include "base/error.h"
#include "base/messages.h"
#include "base/os.h"
#include "base/win32_text.h"
#include "bridge/child.h"
#include "bridge/peer.h"

namespace qvl {
namespace {

struct Handle {
  HANDLE value;
  ~Handle() {
    if (value) CloseHandle(value);
  }
};

}  // namespace

namespace {

BOOL CALLBACK CloseWindowOf(HWND window, LPARAM pid) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == static_cast<DWORD>(pid)) PostMessageW(window, WM_CLOSE, 0, 0);
  return TRUE;
}

void Discard(PROCESS_INFORMATION& process) {
  TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

// Started suspended, in `job` when the system lets it: a bridge that itself runs in a job that
// cannot nest (Windows 7) starts the run outside its own, and says so when even that is refused.
PROCESS_INFORMATION StartInJob(const std::string& program, std::wstring line,
                               const std::string& folder, HANDLE job, HANDLE standard_error,
                               const std::function<void(const std::string&)>& log) {
  // The run's standard error is the one handle it inherits: nothing of the bridge's own (its
  // sockets) is.
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof startup;
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<unsigned char> attributes(size);
  startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
  bool inherit = standard_error &&
                 InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size) &&
                 UpdateProcThreadAttribute(startup.lpAttributeList, 0,
                                           PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &standard_error,
                                           sizeof standard_error, nullptr, nullptr);
  if (inherit) {
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdError = standard_error;
  }
  auto start = [&](DWORD flags, PROCESS_INFORMATION* process) {
    return CreateProcessW(nullptr, line.data(), nullptr, nullptr, inherit,
                          flags | (inherit ? EXTENDED_STARTUPINFO_PRESENT : 0), nullptr,
                          Widen(folder).c_str(), &startup.StartupInfo, process) != 0;
  };
  PROCESS_INFORMATION process = {};
  if (!start(CREATE_SUSPENDED, &process)) {
    DWORD error = GetLastError();
    throw RunError(Say(Message::kUnexpectedFailure,
                       {{"reason", program + ": " + Win32ErrorText(error, program)}}));
  }
  if (job && AssignProcessToJobObject(job, process.hProcess)) return process;
  std::string reason = job ? Win32ErrorText(GetLastError()) : "no job object";
  PROCESS_INFORMATION outside = {};
  if (job && start(CREATE_SUSPENDED | CREATE_BREAKAWAY_FROM_JOB, &outside)) {
    if (AssignProcessToJobObject(job, outside.hProcess)) {
      Discard(process);
      log("the run cannot join a job inside the bridge's own (" + reason +
          "): started outside it");
      return outside;
    }
    Discard(outside);
  }
  log("the run cannot be put in a job object (" + reason +
      "): a helper it starts may outlive it, and it may outlive the bridge");
  return process;
}

}  // namespace

ChildEnd RunChild(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& folder, int deadline_seconds, const std::atomic<bool>& cancel,
                  const std::function<void(const std::string&)>& log) {
  std::string line = QuotedArgument(program);
  for (const std::string& argument : arguments) line += " " + QuotedArgument(argument);
  // Closing the bridge's handle, however the bridge ends, ends the run and its helpers.
  Handle job{CreateJobObjectW(nullptr, nullptr)};
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job.value &&
      !SetInformationJobObject(job.value, JobObjectExtendedLimitInformation, &limits,
                               sizeof limits)) {
    CloseHandle(job.value);
    job.value = nullptr;
  }
  // The run's standard error: its messages, where a full disk keeps them from error.txt.
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  Handle error_read, error_write;
  if (!CreatePipe(&error_read.value, &error_write.value, &inheritable, 0))
    error_write.value = nullptr;
  if (error_read.value) SetHandleInformation(error_read.value, HANDLE_FLAG_INHERIT, 0);
  PROCESS_INFORMATION process =
      StartInJob(program, Widen(line), folder, job.value, error_write.value, log);
  CloseHandle(error_write.value);
  error_write.value = nullptr;
  Handle process_handle{process.hProcess}, thread{process.hThread};
  ResumeThread(process.hThread);
  ChildEnd end;
  auto drain = [&] {
    DWORD ready = 0, got = 0;
    char buffer[4096];
    while (error_read.value &&
           PeekNamedPipe(error_read.value, nullptr, 0, nullptr, &ready, nullptr) && ready > 0 &&
           ReadFile(error_read.value, buffer, sizeof buffer, &got, nullptr) && got > 0)
      KeepErrorText(end.standard_error, std::string_view(buffer, got));
  };
  ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(deadline_seconds) * 1000;
  ULONGLONG closed = 0;
  while (WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT) {
    drain();
    if (cancel && !closed) {
      // The program's own way out: its window closed, as a person closes it.
      EnumWindows(CloseWindowOf, static_cast<LPARAM>(process.dwProcessId));
      closed = GetTickCount64();
    }
    ULONGLONG now = GetTickCount64();
    if (now >= deadline || (closed && now - closed >= kCloseSeconds * 1000ULL)) {
      if (job.value) TerminateJobObject(job.value, 1);
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, 5000);
      end.killed = true;
      return end;
    }
  }
  drain();
  DWORD status = 1;
  GetExitCodeProcess(process.hProcess, &status);
  end.status = static_cast<int>(status);
  return end;  // closing the job ends whatever the run left behind
}

std::string BridgeDataFolder() {
  wchar_t local[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
  if (length > 0 && length < MAX_PATH)
    return JoinPath(Narrow(std::wstring(local, length)), "qvlbridge");
  // Started with no such variable (a scheduled task): the account's own folder, never a
  // shared one such as the temporary folder.
  wchar_t* known = nullptr;
  if (SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known) != S_OK)
    throw RunError("this account has no local application data folder for qvlbridge's files");
  std::wstring folder = known;
  CoTaskMemFree(known);
  return JoinPath(Narrow(folder), "qvlbridge");
}

std::wstring PrivateFolderSddl(const std::wstring& user) {
  // P: protected, nothing inherited from the parent; the user and SYSTEM, and the folders and
  // files made inside inherit the same.
  return L"D:P(A;OICI;FA;;;" + user + L")(A;OICI;FA;;;SY)";
}

bool MakePrivateFolder(const std::string& folder, std::string* error) {
  std::wstring user = OwnAccountSid();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (user.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                          PrivateFolderSddl(user).c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    *error = Win32ErrorText(GetLastError());
    return false;
  }
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(Widen(folder)).parent_path(), ignored);
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  std::wstring wide = Widen(folder);
  bool made = CreateDirectoryW(wide.c_str(), &attributes) != 0;
  DWORD result = made ? ERROR_SUCCESS : GetLastError();
  // One made by an earlier version inherits its parent's: given this DACL now.
  if (result == ERROR_ALREADY_EXISTS) {
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    result = SetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT,
                                   DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                   nullptr, nullptr, dacl, nullptr);
  }
  LocalFree(descriptor);
  if (result != ERROR_SUCCESS) *error = Win32ErrorText(result);
  return result == ERROR_SUCCESS;
}

namespace {

// The process's creation time, in 100 ns since 1601: with its id, a name no later process has.
std::string StartOf(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return "0";
  return std::to_string((static_cast<std::uint64_t>(created.dwHighDateTime) << 32) |
                        created.dwLowDateTime);
}

}  // namespace

std::string OwnProcessStamp() {
  return std::to_string(GetCurrentProcessId()) + "-" + StartOf(GetCurrentProcess());
}

bool BridgeRuns(const std::string& stamp) {
  std::string pid = stamp.substr(0, stamp.find('-'));
  if (pid.empty() || pid.size() > 10 || pid.find_first_not_of("0123456789") != std::string::npos)
    return false;
  Handle process{OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                             static_cast<DWORD>(std::stoull(pid)))};
  wchar_t path[MAX_PATH];
  DWORD length = MAX_PATH;
  if (!process.value || WaitForSingleObject(process.value, 0) != WAIT_TIMEOUT ||
      pid + "-" + StartOf(process.value) != stamp ||
      !QueryFullProcessImageNameW(process.value, 0, path, &length))
    return false;
  std::wstring name(path, length);
  name = name.substr(name.find_last_of(L"\\/") + 1);
  return _wcsicmp(name.c_str(), L"qvlbridge.exe") == 0;
}

void KeepFromChildren(std::uintptr_t handle) {
  SetHandleInformation(reinterpret_cast<HANDLE>(handle), HANDLE_FLAG_INHERIT, 0);
}

namespace {

// One browser's key: its registry path under the hive, and whether it reads Firefox's manifest.
struct BrowserKey {
  const wchar_t* vendor;
  bool firefox;
};
constexpr BrowserKey kBrowserKeys[] = {{L"Google\\Chrome", false},
                                       {L"Microsoft\\Edge", false},
                                       {L"Yandex\\YandexBrowser", false},
                                       {L"Chromium", false},
                                       {L"Mozilla", true}};

bool WriteManifest(const std::string& path, const std::string& manifest, std::string* error) {
  std::ofstream out(std::filesystem::path(Widen(path)), std::ios::binary | std::ios::trunc);
  out << manifest << "\r\n";
  if (out.flush()) return true;
  *error = "cannot write " + path;
  return false;
}

}  // namespace

bool RegisterHost(const std::string& name, const HostManifests& manifests,
                  const std::string& program_folder, bool every_user, bool install,
                  std::string* error) {
  // Every user's: beside the program, where only an administrator writes; a user's: in the
  // bridge's own folder.
  std::string folder = every_user ? program_folder : BridgeDataFolder();
  std::string paths[2] = {JoinPath(folder, name + ".json"),
                          JoinPath(folder, name + ".firefox.json")};
  std::string refused;
  if (install && !every_user && !MakePrivateFolder(folder, &refused)) {
    *error = folder + ": " + refused;
    return false;
  }
  for (int firefox = 0; firefox < 2; ++firefox) {
    if (!install) {
      RemoveFile(paths[firefox]);
    } else if (!WriteManifest(paths[firefox], firefox ? manifests.firefox : manifests.chromium,
                              error)) {
      if (every_user) *error += ": -INSTALL:ALL needs administrator rights";
      return false;
    }
  }
  HKEY hive = every_user ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  // A 32-bit browser on 64-bit Windows reads the 32-bit view of HKLM, a 64-bit one the other.
  std::vector<REGSAM> views = every_user ? std::vector<REGSAM>{KEY_WOW64_64KEY, KEY_WOW64_32KEY}
                                         : std::vector<REGSAM>{0};
  for (const BrowserKey& browser : kBrowserKeys) {
    std::wstring key = L"Software\\" + std::wstring(browser.vendor) + L"\\NativeMessagingHosts\\" +
                       Widen(name);
    for (REGSAM view : views) {
      LSTATUS result;
      if (install) {
        HKEY opened = nullptr;
        std::wstring value = Widen(paths[browser.firefox]);
        result = RegCreateKeyExW(hive, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr,
                                 &opened, nullptr);
        if (result == ERROR_SUCCESS) {
          result = RegSetValueExW(opened, nullptr, 0, REG_SZ,
                                  reinterpret_cast<const BYTE*>(value.c_str()),
                                  static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
          RegCloseKey(opened);
        }
      } else {
        result = RegDeleteKeyExW(hive, key.c_str(), view, 0);
        if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
      }
      if (result != ERROR_SUCCESS) {
        *error = (every_user ? "HKLM\\" : "HKCU\\") + Narrow(key) + ": " +
                 Win32ErrorText(static_cast<DWORD>(result)) +
                 (every_user && result == ERROR_ACCESS_DENIED
                      ? " (-INSTALL:ALL needs administrator rights)"
                      : "");
        return false;
      }
    }
  }
  return true;
}

void UseCallersConsole() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if ((out && out != INVALID_HANDLE_VALUE) || !AttachConsole(ATTACH_PARENT_PROCESS)) return;
  std::freopen("CONOUT$", "w", stdout);
  std::freopen("CONOUT$", "w", stderr);
}

void BinaryStandardStreams() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}

bool StartAtLogon(const std::string& program, bool start, std::string* error) {
  HKEY key;
  LSTATUS result =
      RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                    KEY_SET_VALUE, &key);
  if (result == ERROR_SUCCESS) {
    if (start) {
      std::wstring value = Widen(QuotedArgument(program));
      result =
          RegSetValueExW(key, L"qvlbridge", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    } else {
      result = RegDeleteValueW(key, L"qvlbridge");
      if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
    }
    RegCloseKey(key);
  }
  if (result != ERROR_SUCCESS) *error = Win32ErrorText(static_cast<DWORD>(result));
  return result == ERROR_SUCCESS;
}

}  // namespace qvl
