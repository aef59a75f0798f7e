/* Starts qvlcapture.exe from this program's folder to verify a finger against verify1.bin,
 * waits for it, and prints its answer. Build with MinGW-w64 (x86_64-w64-mingw32-gcc caller.c -o
 * caller.exe) or Visual C++ (cl caller.c). Exit status: 0 with an answer, 1 when no print was
 * taken, 2 when qvlcapture stopped with an error or could not start. */

#include <windows.h>
#include <stdio.h>
#include <string.h>

int main(void) {
  char folder[MAX_PATH], command[MAX_PATH + 100], result_path[MAX_PATH + 20], token[32];
  char answer[4096] = "", returned[4096] = "";
  STARTUPINFOA startup = {sizeof startup};
  PROCESS_INFORMATION process;
  DWORD exit_code = 2;
  FILE* result;

  GetModuleFileNameA(NULL, folder, MAX_PATH);
  *strrchr(folder, '\\') = '\0';
  /* A fresh token: the second line of result.txt proves the answer is this run's. */
  sprintf(token, "T%lu", (unsigned long)GetTickCount());
  sprintf(command, "\"%s\\qvlcapture.exe\" -CVERIFY -TIMEOUT:60 -CONTROL:%s", folder, token);
  if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, folder, &startup, &process)) {
    printf("cannot start qvlcapture.exe: error %lu\n", (unsigned long)GetLastError());
    return 2;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (exit_code != 0) {
    printf("qvlcapture stopped with an error\n");
    return 2;
  }

  sprintf(result_path, "%s\\result.txt", folder);
  result = fopen(result_path, "rb");
  if (result) {
    if (fgets(answer, sizeof answer, result)) fgets(returned, sizeof returned, result);
    fclose(result);
  }
  answer[strcspn(answer, "\r\n")] = '\0';
  returned[strcspn(returned, "\r\n")] = '\0';
  if (strcmp(returned, token) != 0) {
    printf("no print was taken\n");
    return 1;
  }
  printf("answer: %s\n", answer);
  return 0;
}
