// A loadable library without the archiver's entry points.
extern "C" __attribute__((visibility("default"))) int SevenZipVersion(void) { return 1; }
