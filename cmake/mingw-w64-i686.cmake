set(QVL_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
# No emulator: this kernel cannot run 32-bit programs, so the win32 build is built and inspected.
