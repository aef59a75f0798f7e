/* Starts qvlcapture.exe (beside this program, or one folder up as the package ships the samples)
 * to verify a finger against verify1.bin, waits for it, and prints its answer. Build with
 * MinGW-w64 (i686-w64-mingw32-gcc caller.c -o caller.exe for the win32 package,
 * x86_64-w64-mingw32-gcc for win64) or Visual C++ (cl caller.c). Exit status: 0 with an answer,
 * 1 when no print was taken (or another capture runs), 2 when qvlcapture stopped with an error or
 * was not found. */

#include <windows.h>
#include <stdio.h>
#include <string.h>

int main(void) {
  char folder[MAX_PATH], program[MAX_PATH + 20], beside[MAX_PATH + 20], command[MAX_PATH + 100];
  char result_path[MAX_PATH + 20], token[32];
  char answer[4096] = "", returned[4096] = "";
  STARTUPINFOA startup = {sizeof startup};
  PROCESS_INFORMATION process;
  DWORD exit_code = 2;
  FILE* result;

  GetModuleFileNameA(NULL, folder, MAX_PATH);
  *strrchr(folder, '\\') = '\0';
  sprintf(beside, "%s\\qvlcapture.exe", folder);
  strcpy(program, beside);
  if (GetFileAttributesA(program) == INVALID_FILE_ATTRIBUTES && strrchr(folder, '\\')) {
    *strrchr(folder, '\\') = '\0';
    sprintf(program, "%s\\qvlcapture.exe", folder);
  }
  if (GetFileAttributesA(program) == INVALID_FILE_ATTRIBUTES) {
    printf("qvlcapture.exe is neither %s nor %s: copy this sample beside it\n", beside, program);
    return 2;
  }
  /* A fresh token: the second line of result.txt proves the answer is this run's. */
  sprintf(token, "T%lu", (unsigned long)GetTickCount());
  sprintf(command, "\"%s\" -CVERIFY -TIMEOUT:60 -CONTROL:%s", program, token);
  if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, folder, &startup, &process)) {
    printf("cannot start %s: error %lu\n", program, (unsigned long)GetLastError());
    return 2;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  /* Its exit status says how the run ended; only 0 and 7 carry an answer. */
  switch (exit_code) {
    case 0:
    case 7: /* answered; scan.bmp is not this run's picture */
      break;
    case 2: printf("no finger came before the timeout\n"); return 1;
    case 3: printf("the window was closed\n"); return 1;
    case 4: printf("the scanner saw no print: try again\n"); return 1;
    case 5: printf("another capture is running: try again later\n"); return 1;
    case 6: printf("the scanner library crashed: see error.txt\n"); return 2;
    default: printf("qvlcapture stopped with an error\n"); return 2;
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
