#ifndef QVLCAPTURE_SCANNER_QVL_API_H_
#define QVLCAPTURE_SCANNER_QVL_API_H_

/* The six entry points of the scanner library QvlScanner.dll (libQvlScanner.so on Linux), as
 * this program calls them. Written here from the calls' shapes: every argument takes one
 * 32-bit slot (16-bit values go sign-extended), buffers go by the address of their first
 * byte, and only the low 16 bits of a result are read, as a signed number. 32-bit Windows
 * uses stdcall and undecorated export names. Plain C so the stand-in library shares it. */

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define QVL_CALL __stdcall
#else
#define QVL_CALL
#endif

/* V(name, parameter list) for each entry point, in the order the program first calls them. */
#define QVL_ENTRY_POINTS(V)                                                                   \
  V(QvlOpenDevice, (int32_t port, int32_t mode))                                              \
  V(QvlGetImage, (int32_t port, uint8_t * raw_image, int16_t * capture_flag))                 \
  V(QvlProcess, (const uint8_t* raw_image, uint8_t* feature, uint8_t* processed_image,        \
                 int32_t option1, int32_t option2))                                           \
  V(QvlSaveClrBMPFile, (const char* ansi_path, const uint8_t* processed_image))               \
  V(QvlMatch, (const uint8_t* probe, const uint8_t* stored, int32_t level))                   \
  V(QvlMatchN, (const uint8_t* probe, const uint8_t* first, int32_t count, int32_t level))

#define QVL_DECLARE_TYPE(name, params) typedef int32_t(QVL_CALL* name##Fn) params;
QVL_ENTRY_POINTS(QVL_DECLARE_TYPE)
#undef QVL_DECLARE_TYPE

/* Sizes of the buffers the program hands over; the library writes nothing beyond them. */
#define QVL_IMAGE_SIZE 78401
#define QVL_FEATURE_SIZE 257
#define QVL_RECORD_SIZE 256

#endif /* QVLCAPTURE_SCANNER_QVL_API_H_ */
