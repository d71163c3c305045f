// The "Screen:" group: repaint requests, the screen's size and orientation, and the hints.

#include "GraphicsNatives.h"

#include "FrameworkServices.h"
#include "NativeGroups.h"
#include "VirtualMachine.h"

void screenNative(VirtualMachine& vm, TInt32 function) {
    switch (function) {
    case 1: {
        FrameworkServices& host = hostServices(vm);
        int width = 0, height = 0;
        host.getScreenSize(width, height);
        return host.repaintRect(0, 0, width, height);
    }
    case 2: {
        int width = 0, height = 0;
        hostServices(vm).getScreenSize(width, height);
        vm.push(width);
        return vm.push(height);
    }
    case 3: {
        NativeArguments args(vm, 1);
        hostServices(vm).setOrientation(args[0]);
        return args.drop();
    }
    case 4: return vm.push(hostServices(vm).getOrientation());
    case 5: {
        NativeArguments args(vm, 1);
        hostServices(vm).screenHint();
        return args.drop();
    }
    case 6: {
        NativeArguments args(vm, 4);
        hostServices(vm).repaintRect(args[0], args[1], args[2], args[3]);
        return args.drop();
    }
    case 7:
    case 8: {
        NativeArguments args(vm, 1);
        const Address object = args.address(0);
        if (function == 7) {
            hostServices(vm).screenHintB();
            vm.heap().pin(object);
        } else {
            hostServices(vm).screenHintC();
            vm.heap().unpin(object);
        }
        return args.drop();
    }
    default: vm.raiseUnknownFunction("Screen:");
    }
}
