// The least a console program can do before its prompt: the floor for qvlcapture's start-up.

#include <unistd.h>

#include <cstdio>

int main() {
  std::fputs("Приложите палец к устройству\n", stderr);
  pause();
}
