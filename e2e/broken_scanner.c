/* A scanner library without QvlMatchN: the program must stop at its first call into the library
 * and name the missing entry point, never crash later when it would call it. */

#include <stdint.h>
#include <string.h>

#include "../src/scanner/qvl_api.h"

int32_t QvlOpenDevice(int32_t port, int32_t mode) { (void)port; (void)mode; return 0; }
int32_t QvlGetImage(int32_t port, uint8_t* raw_image, int16_t* capture_flag) {
  (void)port;
  memset(raw_image, 0, QVL_IMAGE_SIZE);
  *capture_flag = 1;
  return 0;
}
int32_t QvlProcess(const uint8_t* raw, uint8_t* feature, uint8_t* processed, int32_t a, int32_t b) {
  (void)raw; (void)feature; (void)processed; (void)a; (void)b;
  return 0;
}
int32_t QvlSaveClrBMPFile(const char* path, const uint8_t* image) { (void)path; (void)image; return 0; }
int32_t QvlMatch(const uint8_t* probe, const uint8_t* stored, int32_t level) {
  (void)probe; (void)stored; (void)level;
  return 0;
}
