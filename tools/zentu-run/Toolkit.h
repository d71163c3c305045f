#pragma once

#include "Graphics.h"

#include <memory>
#include <string>

class VirtualMachine;

// Qt: the application object, bitmaps, painters and fonts. Loading and starting it is most of
// the start-up of a process, so zentu-run starts it only when the application first needs
// graphics (a bitmap, a font, a canvas or a draw step). Timers and the event script run on
// zentu-run's own event loop and never need it.
class Toolkit {
public:
    virtual ~Toolkit() = default;
    virtual std::unique_ptr<GraphicsFactory> createGraphics() = 0;
    // One draw event on a back buffer of the given size, which is kept from one draw to the
    // next, then written to path as PNG. False when the file cannot be written.
    virtual bool drawFrame(VirtualMachine& vm, int width, int height, const std::string& path) = 0;
};

// Loads the toolkit module (zentu-run-toolkit.so, beside zentu-run in a build, in
// ../lib/zentu when installed) and starts it on first use; argc and argv must outlive it.
// A module that cannot be loaded ends the process with a message and status 1.
class ToolkitStarter {
public:
    ToolkitStarter(int& argc, char** argv) : argc(argc), argv(argv) {}
    ~ToolkitStarter();

    Toolkit& toolkit();
    // Graphics that start the toolkit when the first bitmap, font or canvas is made.
    std::unique_ptr<GraphicsFactory> deferredGraphics();

private:
    int& argc;
    char** argv;
    void* module = nullptr;
    std::unique_ptr<Toolkit> started;
};

// The module's one entry point.
extern "C" Toolkit* zentuStartToolkit(int* argc, char** argv);
