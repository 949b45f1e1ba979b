// A stand-in archiver library that is always busy and whose command always fails.
#include "archive/sevenzip32/SevenZip32.h"

extern "C" SEVENZIP32_EXPORT int SEVENZIP32_CALL SevenZipGetRunning(void) { return 1; }
extern "C" SEVENZIP32_EXPORT int SEVENZIP32_CALL SevenZip(void*, const char*, char* output, unsigned long size) {
  if (output != nullptr && size > 0) output[0] = '\0';
  return 3;
}
