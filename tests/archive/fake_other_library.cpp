// A loadable library without the archiver's entry points.
#include "archive/sevenzip32/SevenZip32.h"

extern "C" SEVENZIP32_EXPORT int SEVENZIP32_CALL SevenZipVersion(void) { return 1; }
