#pragma once

#include "EntryCallGuard.h"
#include "HostServices.h"
#include "QtTimerSource.h"
#include "Scheduler.h"

#include <QCoreApplication>
#include <QPixmap>
#include <QWidget>

#include <functional>
#include <memory>

class DeviceExtensions;
class VirtualMachine;

// The runtime's one full-screen window and the host services of the windowed runtime. It owns
// the machine, the application's canvas (the back buffer), the timers and the device
// extensions; it turns the toolkit's events into the application's entry calls, tracks
// whether the application is in the foreground and shows the canvas in landscape or, turned
// by -90 degrees, in portrait.
class MainView : public QWidget, public HostServices {
    Q_OBJECT

public:
    explicit MainView(const CAppsString& applicationDirectory);
    ~MainView() override;

    // Creates the machine and the extensions, opens index.mcb and runs the application's
    // main. False when the image cannot be opened ("Failed to open '...'" is written).
    bool load();
    // Whether the application ended (it exited, or a fatal error ended it) and how.
    const EntryCallGuard& end() const { return guard; }
    VirtualMachine* machine() const { return vm.get(); }

    // The window manager's current application window changed: 0xFFFFFFFF shows the
    // application, any other window leaves it shown only while this window is active.
    void currentAppWindowChanged(TUint32 window);

    // FrameworkServices beyond the shared host services
    void repaintRect(int x, int y, int width, int height) override;
    void setOrientation(int orientation) override;
    [[noreturn]] void exitApplication() override;
    TInt32 callDll(int extension, int function, TInt32 sp, Address stackBase) override;

public Q_SLOTS:
    // The display-status signal of the system bus: "off" turns the display off, any other
    // text on.
    void displaySignal(const QString& status);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Runs a call into the machine; an application that has ended runs nothing more.
    void runEntryCall(const std::function<void()>& call);
    void pointerEvent(TInt32 kind, QMouseEvent* event);
    void keyEvent(QKeyEvent* event, bool pressed);
    void updateForeground();
    bool mustRotate();
    // Gives the back buffer the canvas's shape for the window's size and orientation.
    void shapeBackBuffer(QSize window);
    void writePortraitRequest(bool portrait);

    // Declared first: destroyed last, after everything that refers to it.
    std::unique_ptr<VirtualMachine> vm;
    QtTimerSource timers;
    Scheduler scheduler{timers};
    EntryCallGuard guard{[](int status) { QCoreApplication::exit(status); }};
    std::unique_ptr<DeviceExtensions> extensions;
    QPixmap backBuffer;
    bool isShown = false;
    bool isDisplayOn = true;
};
