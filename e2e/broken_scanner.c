/* Scanner libraries that cannot serve, to check what the program tells the user about each:
 * without QVL_NEEDS_DEPENDENCY it lacks QvlMatchN; with it, it needs a library of its own
 * (qvl_dependency) that the tests never place beside it. Nothing here is ever called. */

#include <stdint.h>

#include "../src/scanner/qvl_api.h"

#ifdef QVL_NEEDS_DEPENDENCY
int qvl_dependency(void);
#define DEFINE(name, params) \
  int32_t QVL_CALL name params { return qvl_dependency(); }
QVL_ENTRY_POINTS(DEFINE)
#else
#define DEFINE(name, params) \
  int32_t QVL_CALL name params { return 0; }
DEFINE(QvlOpenDevice, (int32_t port, int32_t mode))
DEFINE(QvlGetImage, (int32_t port, uint8_t* raw_image, int16_t* capture_flag))
DEFINE(QvlProcess, (const uint8_t* raw, uint8_t* feature, uint8_t* image, int32_t a, int32_t b))
DEFINE(QvlSaveClrBMPFile, (const char* ansi_path, const uint8_t* image))
DEFINE(QvlMatch, (const uint8_t* probe, const uint8_t* stored, int32_t level))
#endif
