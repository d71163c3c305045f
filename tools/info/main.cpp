// zentu-info: loads an index.mcb image into a machine and prints a summary of its tables.

#include "AppsFileIO.h"
#include "VirtualMachine.h"

#include <cstdio>

namespace {

void printSummary(const VirtualMachine& vm, TInt32 imageIndex) {
    const VirtualMachine::BytecodeStruct& image = vm.images[imageIndex];
    std::printf("image %d \"%s\": %d code bytes at %d\n", imageIndex, image.name.toUtf8().c_str(),
                image.codeSize, image.codeBase);
    std::printf("named methods: %d\n", vm.exportedMethods.size());
    for (const auto& method : vm.exportedMethods) {
        std::printf("  %s%s:", method.isVirtual ? "virtual " : "", method.name.toUtf8().c_str());
        for (const auto& entry : method.entries)
            std::printf(" [type %d, code %d, method %d]", entry.typeId, entry.codeOffset,
                        entry.methodIndex);
        std::printf("\n");
    }
    std::printf("types: %d (highest type id %d)\n", vm.typeRefOffsets.size() - 1, vm.maxTypeId);
    for (int t = 1; t < vm.superTypes.size(); ++t)
        std::printf("  type %d: super %d, %d reference fields, %d vector fields\n", t,
                    vm.superTypes[t], vm.typeRefOffsets[t].size(), vm.typeFlaggedOffsets[t].size());
    std::printf("method layouts: %d\n", vm.methodGCInfos.size());
    for (int m = 0; m < vm.methodGCInfos.size(); ++m) {
        const auto& info = vm.methodGCInfos[m];
        std::printf("  method %d: %d argument, %d extra, %d local slots\n", m, info.argSlots,
                    info.extraSlots, info.localSlots);
    }
    std::printf("string constants: %d\n", vm.stringConstants.size());
    for (const OString& s : vm.stringConstants)
        std::printf("  \"%s\"\n", s.toCAppsString().toUtf8().c_str());
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zentu-info IMAGE\n");
        return 2;
    }
    CAppsString path = CAppsString::fromUtf8(argv[1]);
    CAppsFileReader reader(path);
    if (!reader.isOpen()) {
        std::fprintf(stderr, "Failed to open '%s'\n", argv[1]);
        return 1;
    }
    // The load steps alone: the summary is of the tables, without running the application.
    VirtualMachine vm;
    TInt32 imageIndex = -1;
    std::string refusal;
    try {
        imageIndex = vm.loadImage(*reader.stream(), path, &refusal);
    } catch (const ErrorHandlingException&) {
        refusal = lastErrorText().toUtf8();
    }
    if (imageIndex < 0) {
        std::fprintf(stderr, "%s: Error while reading bytecode: %s\n", argv[1], refusal.c_str());
        return 1;
    }
    printSummary(vm, imageIndex);
    return 0;
}
