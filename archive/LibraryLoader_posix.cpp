#include <dlfcn.h>

#include "archive/LibraryLoader.h"

namespace qvu {

void* LoadLibraryAt(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }

void* FindEntryPoint(void* library, const char* name) { return dlsym(library, name); }

void ReleaseLibrary(void* library) { dlclose(library); }

}  // namespace qvu
