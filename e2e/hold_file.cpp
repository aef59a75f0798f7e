// Holds a file open the way other programs on a user's desk do, until it is killed:
//   hold_file PATH read   as GDI+ keeps a picture that a caller shows (sharing read only)
//   hold_file PATH all    as an indexer or a virus scanner (sharing read, write and delete)
// Prints "held" once the file is open; a missing file is created, as a lock file would be.

#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  DWORD share = std::wcscmp(argv[2], L"all") == 0
                    ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE
                    : FILE_SHARE_READ;
  HANDLE file = CreateFileW(argv[1], GENERIC_READ, share, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "hold_file: cannot open the file: error %lu\n", GetLastError());
    return 1;
  }
  std::printf("held\n");
  std::fflush(stdout);
  Sleep(INFINITE);
  return 0;
}
