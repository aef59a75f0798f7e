// Windows side of the bridge's child runs: a Job object, so that a helper the library started
// ends with the run, and the run ends with the bridge.

#include <windows.h>

#include "base/error.h"
#include "base/messages.h"
#include "base/os.h"
#include "base/win32_text.h"
#include "bridge/child.h"

namespace qvl {
namespace {

// One argument as the C runtime splits it back.
std::wstring Quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'"') quoted.append(backslashes + 1, L'\\');
    backslashes = c == L'\\' ? backslashes + 1 : 0;
    quoted += c;
  }
  return quoted.append(backslashes, L'\\') + L'"';
}

struct Handle {
  HANDLE value;
  ~Handle() {
    if (value) CloseHandle(value);
  }
};

}  // namespace

ChildEnd RunChild(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& folder, int deadline_seconds) {
  std::wstring line = Quoted(Widen(program));
  for (const std::string& argument : arguments) line += L" " + Quoted(Widen(argument));
  Handle job{CreateJobObjectW(nullptr, nullptr)};
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job.value)
    SetInformationJobObject(job.value, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // Nothing of the bridge's own (its sockets) is inherited.
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                      Widen(folder).c_str(), &startup, &process)) {
    throw RunError(Say(Message::kUnexpectedFailure,
                       {{"reason", program + ": " + Win32ErrorText(GetLastError(), program)}}));
  }
  Handle process_handle{process.hProcess}, thread{process.hThread};
  if (job.value) AssignProcessToJobObject(job.value, process.hProcess);
  ResumeThread(process.hThread);
  ChildEnd end;
  if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(deadline_seconds) * 1000) ==
      WAIT_TIMEOUT) {
    if (job.value) TerminateJobObject(job.value, 1);
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 5000);
    end.killed = true;
    return end;
  }
  DWORD status = 1;
  GetExitCodeProcess(process.hProcess, &status);
  end.status = static_cast<int>(status);
  return end;  // closing the job ends whatever the run left behind
}

std::string BridgeDataFolder() {
  wchar_t local[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    length = GetTempPathW(MAX_PATH, local);
    while (length > 0 && local[length - 1] == L'\\') --length;
  }
  return JoinPath(Narrow(std::wstring(local, length)), "qvlbridge");
}

bool StartAtLogon(const std::string& program, bool start, std::string* error) {
  HKEY key;
  LSTATUS result =
      RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                    KEY_SET_VALUE, &key);
  if (result == ERROR_SUCCESS) {
    if (start) {
      std::wstring value = Quoted(Widen(program));
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
