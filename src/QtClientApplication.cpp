#include "QtClientApplication.h"

#include "MainView.h"
#include "X11Properties.h"

QtClientApplication::QtClientApplication(int& argc, char** argv) : QApplication(argc, argv) {
    installNativeEventFilter(this);
}

QtClientApplication::~QtClientApplication() {
    removeNativeEventFilter(this);
}

void QtClientApplication::setMainView(MainView* view) {
    mainView = view;
    if (view) X11Properties::watchRoot();
}

// Every event continues to the toolkit.
bool QtClientApplication::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (!mainView || eventType != "xcb_generic_event_t") return false;
    if (const auto window = X11Properties::currentAppWindowChange(message))
        mainView->currentAppWindowChanged(*window);
    return false;
}
