#include "HeadlessServices.h"

#include "ErrorHandling.h"
#include "VirtualMachine.h"

void HeadlessServices::log(const CAppsString& message) {
    HostServices::log(message);
    if (logObserver) logObserver(message);
}

void HeadlessServices::exitApplication() {
    throw EntryCallSignal{EntryCallSignal::kExit};
}

TInt32 HeadlessServices::callDll(int, int, TInt32, Address) {
    raise(KErrVM, "Dll not supported");
}
