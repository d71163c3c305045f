#include "HostGraphics.h"
#include "ScreenCanvas.h"
#include "Toolkit.h"
#include "VirtualMachine.h"

#include <QGuiApplication>
#include <QPixmap>

namespace {

// The offscreen platform asks for the runtime directory while it starts; without a session
// Qt announces that it made one of its own. That notice would be the only line on standard
// error that neither the runtime nor the application wrote, so it is dropped.
QtMessageHandler defaultHandler = nullptr;

void startupMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))) return;
    defaultHandler(type, context, text);
}

std::unique_ptr<QGuiApplication> startApplication(int& argc, char** argv) {
    // Drawing needs a platform plugin but no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    defaultHandler = qInstallMessageHandler(startupMessages);
    auto application = std::make_unique<QGuiApplication>(argc, argv);
    qInstallMessageHandler(defaultHandler);
    return application;
}

class GuiToolkit : public Toolkit {
public:
    GuiToolkit(int& argc, char** argv) : application(startApplication(argc, argv)) {}

    std::unique_ptr<GraphicsFactory> createGraphics() override {
        return std::make_unique<HostGraphics>();
    }

    bool drawFrame(VirtualMachine& vm, int width, int height, const std::string& path) override {
        if (backBuffer.width() != width || backBuffer.height() != height) {
            backBuffer = QPixmap(width, height);
            backBuffer.fill(Qt::black);
        }
        {
            ScreenCanvas canvas(vm, backBuffer, QRegion(0, 0, width, height));
            vm.drawEvent(canvas.handle());
        }
        return backBuffer.save(QString::fromStdString(path), "PNG");
    }

private:
    std::unique_ptr<QGuiApplication> application; // first: pixmaps need it
    QPixmap backBuffer;
};

} // namespace

extern "C" Toolkit* zentuStartToolkit(int* argc, char** argv) {
    return new GuiToolkit(*argc, argv);
}
