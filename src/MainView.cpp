#include "MainView.h"

#include "AppsFileIO.h"
#include "DeviceExtensions.h"
#include "ErrorHandling.h"
#include "HostGraphics.h"
#include "KeyEvent.h"
#include "QtText.h"
#include "ScreenCanvas.h"
#include "ViewRules.h"
#include "VirtualMachine.h"
#include "X11Properties.h"

#include <QDebug>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>

#include <cstdio>

namespace {

// The foreground state last delivered to the application.
bool lastForeground = false;

constexpr TInt32 kPointerPress = 0;
constexpr TInt32 kPointerRelease = 1;
constexpr TInt32 kPointerMove = 6;

} // namespace

MainView::MainView(const CAppsString& applicationDirectory)
    : QWidget(nullptr), HostServices(applicationDirectory, scheduler) {
    scheduler.setCallRunner([this](const std::function<void()>& call) { runEntryCall(call); });
    // The view paints every pixel it is asked for, straight from the back buffer, so the
    // toolkit needs no background of its own. (Painting on screen without a paint engine is
    // not possible with this toolkit; the back buffer is always copied through a painter.)
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    setAttribute(Qt::WA_NoSystemBackground, true);
    setFocusPolicy(Qt::StrongFocus);
    setWindowState(Qt::WindowFullScreen);
    // Without a window manager nobody honours the full-screen state: take the screen's size.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) setGeometry(screen->geometry());
}

MainView::~MainView() {
    backBuffer = QPixmap();
    extensions.reset();
}

bool MainView::load() {
    markStartTime();
    vm = std::make_unique<VirtualMachine>();
    installGraphics(*vm);
    guard.explain(vm.get());
    scheduler.setMachine(vm.get());
    extensions = std::make_unique<DeviceExtensions>(*vm);

    const CAppsString imageName("index.mcb");
    CAppsFileReader reader(openFileForReading(imageName));
    if (!reader.isOpen()) {
        const std::string path = files().resolve(imageName).toUtf8();
        std::fprintf(stderr, "Failed to open '%s'\n", path.c_str());
        return false;
    }
    runEntryCall([&] { vm->load(*reader.stream(), imageName, this); });
    update();
    return true;
}

void MainView::runEntryCall(const std::function<void()>& call) {
    guard.run(call);
}

void MainView::repaintRect(int x, int y, int width, int height) {
    update(ViewRules::windowRect(mustRotate(), this->height(), QRect(x, y, width, height)));
}

void MainView::setOrientation(int newOrientation) {
    if (newOrientation == getOrientation()) return;
    HostServices::setOrientation(newOrientation);
    writePortraitRequest(newOrientation != ViewRules::kLandscape);
    shapeBackBuffer(size());
    update();
}

void MainView::exitApplication() {
    // Ends the running entry call; the event loop then returns and the runtime shuts down.
    throw EntryCallSignal{EntryCallSignal::kExit};
}

TInt32 MainView::callDll(int extension, int function, TInt32 sp, Address stackBase) {
    if (!extensions) ::raise(KErrVM, "Dll not supported");
    return extensions->call(extension, function, sp, stackBase);
}

void MainView::displaySignal(const QString& status) {
    isDisplayOn = status != QLatin1String("off");
    updateForeground();
}

void MainView::currentAppWindowChanged(TUint32 window) {
    isShown = window == 0xFFFFFFFF || isActiveWindow();
    updateForeground();
}

void MainView::updateForeground() {
    const bool foreground = isDisplayOn && isShown;
    if (foreground == lastForeground || !vm) return;
    lastForeground = foreground;
    runEntryCall([&] {
        if (foreground)
            vm->foregroundEvent();
        else
            vm->backgroundEvent();
    });
}

void MainView::showEvent(QShowEvent*) {
    isShown = true;
    updateForeground();
}

void MainView::hideEvent(QHideEvent*) {
    isShown = false;
    updateForeground();
}

void MainView::mousePressEvent(QMouseEvent* event) {
    pointerEvent(kPointerPress, event);
}

void MainView::mouseReleaseEvent(QMouseEvent* event) {
    pointerEvent(kPointerRelease, event);
}

void MainView::mouseMoveEvent(QMouseEvent* event) {
    pointerEvent(kPointerMove, event);
}

void MainView::pointerEvent(TInt32 kind, QMouseEvent* event) {
    if (!vm) return;
    const QPoint at = event->position().toPoint();
    runEntryCall([&] { vm->pointerEvent(kind, at.x(), at.y(), 0); });
}

void MainView::keyPressEvent(QKeyEvent* event) {
    keyEvent(event, true);
}

void MainView::keyReleaseEvent(QKeyEvent* event) {
    keyEvent(event, false);
}

void MainView::keyEvent(QKeyEvent* event, bool pressed) {
    if (!vm) return;
    const CAppsString text = fromQString(event->text());
    const TInt32 key = ViewRules::applicationKey(event->key());
    const auto scanCode = static_cast<TInt32>(event->nativeScanCode());
    runEntryCall([&] {
        const Address keyEvent = Zarnok::newKeyEvent(vm->heap(), key, scanCode, 0, text);
        vm->keyEvent(keyEvent, pressed);
    });
}

bool MainView::mustRotate() {
    return ViewRules::mustRotate(getOrientation(), size());
}

void MainView::paintEvent(QPaintEvent* event) {
    if (!vm) return;
    const bool rotate = mustRotate();
    const QRegion canvasRegion = ViewRules::canvasRegion(rotate, height(), event->region());
    runEntryCall([&] {
        ScreenCanvas canvas(*vm, backBuffer, canvasRegion);
        vm->drawEvent(canvas.handle());
    });
    QPainter painter(this);
    painter.setClipRegion(event->region());
    if (rotate) {
        painter.translate(0, height());
        painter.rotate(-90);
    }
    painter.drawPixmap(0, 0, backBuffer);
}

void MainView::resizeEvent(QResizeEvent* event) {
    shapeBackBuffer(event->size());
}

// A rotated canvas is portrait-shaped: the back buffer takes the turned size of the window,
// so that the whole application picture fits the window.
void MainView::shapeBackBuffer(QSize window) {
    const QSize canvas =
        ViewRules::canvasSize(ViewRules::mustRotate(getOrientation(), window), window);
    if (backBuffer.size() == canvas) return;
    backBuffer = QPixmap(canvas);
    backBuffer.fill(Qt::black);
}

void MainView::writePortraitRequest(bool portrait) {
    if (!X11Properties::writePortraitRequest(portrait ? 1 : 0))
        qDebug("setOrientationToPortrait, change property failed");
}
