#pragma once

#include <QAbstractNativeEventFilter>
#include <QApplication>

class MainView;

// The toolkit application of the windowed runtime. It watches the window manager's current
// application window on the root window and tells the main view, once there is one.
class QtClientApplication : public QApplication, private QAbstractNativeEventFilter {
public:
    QtClientApplication(int& argc, char** argv);
    ~QtClientApplication() override;

    // The view that hears of the current application window; null: nobody. Not owned.
    void setMainView(MainView* view);

private:
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    MainView* mainView = nullptr;
};
