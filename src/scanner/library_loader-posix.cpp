#include <dlfcn.h>
#include <link.h>

#include <cstdint>

#include "base/error.h"
#include "base/messages.h"
#include "base/os.h"
#include "scanner/binary_kind.h"
#include "scanner/library_loader.h"

namespace qvl {

const char kScannerLibraryName[] = "libQvlScanner.so";
const char kLibraryStartName[] = "_init";

namespace {

std::string LastLoadError() {
  const char* reason = dlerror();
  return reason ? reason : "unknown reason";
}

}  // namespace

void* LoadScannerLibrary(std::string& path) {
  // The program's own folder first, as on Windows; then the system's library path.
  std::string beside = JoinPath(ProgramFolder(), kScannerLibraryName);
  path = beside;
  if (RegularFileLength(beside)) {
    if (void* library = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL)) return library;
    std::string reason = LastLoadError();
    if (std::optional<std::string> mismatch = MismatchMessage(beside)) throw RunError(*mismatch);
    throw RunError(Say(Message::kCannotLoad, {{"path", beside}, {"reason", reason}}));
  }
  path = kScannerLibraryName;
  if (void* library = dlopen(kScannerLibraryName, RTLD_NOW | RTLD_LOCAL)) return library;
  throw RunError(Say(Message::kLibraryNotOnPath, {{"name", kScannerLibraryName},
                                                  {"folder", ProgramFolder()},
                                                  {"reason", LastLoadError()},
                                                  {"program", "qvlcapture"}}));
}

void* FindLibrarySymbol(void* library, const char* name) { return dlsym(library, name); }

namespace {

struct Extent {
  std::uintptr_t bias, begin, end;
};

// The loaded segments of the object whose load bias is the library's.
int MeasureObject(dl_phdr_info* info, std::size_t, void* data) {
  auto* extent = static_cast<Extent*>(data);
  if (info->dlpi_addr != extent->bias) return 0;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD) continue;
    std::uintptr_t start = info->dlpi_addr + segment.p_vaddr;
    if (start < extent->begin) extent->begin = start;
    if (start + segment.p_memsz > extent->end) extent->end = start + segment.p_memsz;
  }
  return 1;
}

}  // namespace

void LibraryExtent(void* library, std::uintptr_t* begin, std::uintptr_t* end) {
  link_map* map = nullptr;
  Extent extent{0, UINTPTR_MAX, 0};
  if (dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 && map) {
    extent.bias = map->l_addr;
    dl_iterate_phdr(MeasureObject, &extent);
  }
  *begin = extent.begin;
  *end = extent.end;
}

}  // namespace qvl
