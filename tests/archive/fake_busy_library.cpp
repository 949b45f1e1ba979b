// A stand-in archiver library that is always busy and whose command always fails.
extern "C" __attribute__((visibility("default"))) int SevenZipGetRunning(void) { return 1; }
extern "C" __attribute__((visibility("default"))) int SevenZip(void*, const char*, char* output, unsigned long size) {
  if (output != nullptr && size > 0) output[0] = '\0';
  return 3;
}
