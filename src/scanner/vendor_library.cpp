// The real scanner library: loaded by name on the first call, every entry point resolved then.

#include <string>

#include "base/error.h"
#include "base/fault.h"
#include "base/messages.h"
#include "scanner/library_loader.h"
#include "scanner/scanner_library.h"

namespace qvl {
namespace {

class VendorScannerLibrary : public ScannerLibrary {
 public:
  std::int16_t OpenDevice() override {
    return Call(&EntryPoints::QvlOpenDevice, "QvlOpenDevice", 0, -1);
  }

  std::int16_t GetImage(ImageBuffer& raw_image, std::int16_t& capture_flag) override {
    return Call(&EntryPoints::QvlGetImage, "QvlGetImage", 0, raw_image.data(), &capture_flag);
  }

  std::int16_t Process(const ImageBuffer& raw_image, FeatureBuffer& feature,
                       ImageBuffer& processed_image) override {
    return Call(&EntryPoints::QvlProcess, "QvlProcess", raw_image.data(), feature.data(),
                processed_image.data(), -1, -1);
  }

  std::int16_t SaveBmp(const char* ansi_path, const ImageBuffer& processed_image) override {
    return Call(&EntryPoints::QvlSaveClrBMPFile, "QvlSaveClrBMPFile", ansi_path,
                processed_image.data());
  }

  std::int16_t Match(const std::uint8_t* probe, const std::uint8_t* stored,
                     std::int16_t level) override {
    return Call(&EntryPoints::QvlMatch, "QvlMatch", probe, stored, level);
  }

  std::int16_t MatchN(const std::uint8_t* probe, const std::uint8_t* first, std::int16_t count,
                      std::int16_t level) override {
    return Call(&EntryPoints::QvlMatchN, "QvlMatchN", probe, first, count, level);
  }

 private:
  struct EntryPoints {
#define QVL_FIELD(name, params) name##Fn name = nullptr;
    QVL_ENTRY_POINTS(QVL_FIELD)
#undef QVL_FIELD
  };

  // Calls an entry point, which loads the library first if need be. A fault inside the call is
  // reported as the library's. Only the low 16 bits of a result mean anything.
  template <typename Entry, typename... Args>
  std::int16_t Call(Entry EntryPoints::*entry, const char* name, Args... args) {
    Entry function = Api().*entry;
    LibraryCall call(name);
    std::int32_t result = function(args...);
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(result & 0xFFFF));
  }

  const EntryPoints& Api() {
    if (!loaded_) {
      void* library = nullptr;
      {
        LibraryLoad load(path_, kLibraryStartName);  // the library's own code runs as it loads
        library = LoadScannerLibrary(path_);
      }
      std::uintptr_t begin, end;
      ModuleExtent(library, &begin, &end);
      BlameLibrary(begin, end);
#define QVL_RESOLVE(name, params) \
  api_.name = reinterpret_cast<name##Fn>(Resolve(library, path_, #name));
      QVL_ENTRY_POINTS(QVL_RESOLVE)
#undef QVL_RESOLVE
      loaded_ = true;
    }
    return api_;
  }

  static void* Resolve(void* library, const std::string& path, const char* name) {
    void* address = FindLibrarySymbol(library, name);
    if (!address) {
      throw RunError(Say(Message::kNoEntryPoint, {{"path", path}, {"entry_point", name}}));
    }
    return address;
  }

  EntryPoints api_;
  std::string path_;  // of the loaded library
  bool loaded_ = false;
};

}  // namespace

std::unique_ptr<ScannerLibrary> NewVendorScannerLibrary() {
  return std::make_unique<VendorScannerLibrary>();
}

}  // namespace qvl
