// Writes the bundled sample image: an application class with a constructor and a draw method,
// and a main that creates the application object.

#include "Image.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    Image image;
    const char id[] = "zentu-sample-hello-1";
    for (int i = 0; i < 20; ++i) image.identifier[i] = static_cast<std::uint8_t>(id[i]);

    image.exportedMethods = {{"main", 0, 0}};
    image.virtualMethods = {{"<application>.draw to<canvas>", {{0, 14, 1}}}};
    image.types = {{0, {1}, {}, 0, 0, {}}};
    image.methods = {{0, 0, {}, {}, 0, 1, {0}, {}}, {0, 2, {}, {}, 0, 0, {}, {}}};
    image.strings = {"Hello, world", "Grüße"};
    image.code = {
        0x11, 0x01, 0x02, 0x00, 0x00, 0x00,       // new_object code 1, 2 slots
        0x15, 0x00, 0x00, 0x00, 0x00,             // push_string 0
        0x10, 0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, // ret 2, 3
        0x10, 0x01, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, // ret 1, 3
    };
    std::vector<std::uint8_t> bytes = writeImage(image);
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out) return 1;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && ok ? 0 : 1;
}
