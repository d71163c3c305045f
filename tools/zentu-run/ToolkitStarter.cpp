#include "Toolkit.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <string>

namespace {

constexpr const char* kModuleName = "zentu-run-toolkit.so";

class DeferredGraphics : public GraphicsFactory {
public:
    explicit DeferredGraphics(ToolkitStarter& starter) : starter(starter) {}

    std::unique_ptr<VMBitmap> createBitmap(TInt32 width, TInt32 height) override {
        return graphics().createBitmap(width, height);
    }
    std::unique_ptr<VMBitmap> copyBitmap(VMBitmap& source) override {
        return graphics().copyBitmap(source);
    }
    std::unique_ptr<VMBitmap> decodeBitmap(const TUint8* bytes, TInt32 count) override {
        return graphics().decodeBitmap(bytes, count);
    }
    std::unique_ptr<CAppsFont> decodeFont(const TUint8* bytes, TInt32 count) override {
        return graphics().decodeFont(bytes, count);
    }
    std::unique_ptr<CAppsFont> createNativeFont() override { return graphics().createNativeFont(); }
    std::unique_ptr<VMGraphics> createCanvas(VMBitmap& bitmap) override {
        return graphics().createCanvas(bitmap);
    }

private:
    GraphicsFactory& graphics() {
        if (!host) host = starter.toolkit().createGraphics();
        return *host;
    }

    ToolkitStarter& starter;
    std::unique_ptr<GraphicsFactory> host;
};

} // namespace

// The module stays loaded to the end of the process: Qt's own exit handlers live in it.
ToolkitStarter::~ToolkitStarter() = default;

Toolkit& ToolkitStarter::toolkit() {
    if (started) return *started;
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path programDirectory = fs::read_symlink("/proc/self/exe", error).parent_path();
    std::string failures;
    for (const fs::path& path : {programDirectory / kModuleName,
                                 programDirectory / ".." / "lib" / "zentu" / kModuleName}) {
        module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module) break;
        failures += std::string("\n  ") + dlerror();
    }
    using Start = Toolkit* (*)(int*, char**);
    const auto start =
        module ? reinterpret_cast<Start>(dlsym(module, "zentuStartToolkit")) : nullptr;
    if (!start) {
        std::fprintf(stderr, "zentu-run: cannot load the toolkit module %s:%s\n", kModuleName,
                     module ? "\n  it has no entry point zentuStartToolkit" : failures.c_str());
        std::fflush(stderr);
        std::_Exit(1);
    }
    started.reset(start(&argc, argv));
    return *started;
}

std::unique_ptr<GraphicsFactory> ToolkitStarter::deferredGraphics() {
    return std::make_unique<DeferredGraphics>(*this);
}
