#include "platform/imagefiles/ImageFileLibrary.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

namespace lumivane {
namespace {

constexpr const char* kModuleName = "liblumivane_imagefiles.so";

Error moduleError(const std::string& why) {
    return Error{"image files cannot be read or written: " + why};
}

std::string dlerrorText() {
    const char* text = ::dlerror();
    return text ? text : "unknown error";
}

Result<const imagefiles::Functions*> loadFunctions() {
    const std::string path = ImageFileLibrary::modulePath();
    if (path.empty()) return moduleError("cannot find the running executable");
    // Never closed: OpenImageIO keeps threads and static state to the end.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return moduleError(dlerrorText());
    auto entry = reinterpret_cast<imagefiles::EntryPoint>(::dlsym(handle, imagefiles::kEntryPoint));
    if (!entry) return moduleError(dlerrorText());
    const imagefiles::Functions* functions = entry();
    if (!functions || functions->abiVersion != imagefiles::kAbiVersion) {
        return moduleError("\"" + path + "\" is from another build");
    }
    return functions;
}

}  // namespace

std::string ImageFileLibrary::modulePath() {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return (executable.parent_path().parent_path() / LUMIVANE_MODULE_DIR / kModuleName).string();
}

const Result<const imagefiles::Functions*>& ImageFileLibrary::functions() {
    static const Result<const imagefiles::Functions*> loaded = loadFunctions();
    return loaded;
}

Result<imagefiles::DecodedImage> ImageFileLibrary::read(const std::string& path,
                                                        const imagefiles::AcceptHeader& accept) {
    const auto& module = functions();
    if (!module) return Error{module.error()};
    imagefiles::DecodedImage image;
    std::string error;
    if (!module.value()->read(path, accept, image, error)) return Error{error};
    return image;
}

Result<void> ImageFileLibrary::write(const std::string& path,
                                     const imagefiles::ImageToWrite& image) {
    const auto& module = functions();
    if (!module) return Error{module.error()};
    std::string error;
    if (!module.value()->write(path, image, error)) return Error{error};
    return {};
}

Result<imagefiles::TextCoverage> ImageFileLibrary::drawText(const std::string& utf8, int fontSize,
                                                            const std::string& fontFile, int margin,
                                                            int maxSide) {
    const auto& module = functions();
    if (!module) return Error{module.error()};
    imagefiles::TextCoverage coverage;
    std::string error;
    if (!module.value()->drawText(utf8, fontSize, fontFile, margin, maxSide, coverage, error)) {
        return Error{error};
    }
    return coverage;
}

}  // namespace lumivane
