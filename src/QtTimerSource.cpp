#include "QtTimerSource.h"

#include <QTimer>

namespace {

class QtTimer : public TimerSource::Timer {
public:
    QtTimer(int milliseconds, std::function<void()> expired) : timer(new QTimer) {
        QObject::connect(timer, &QTimer::timeout, timer, std::move(expired), Qt::DirectConnection);
        timer->start(milliseconds);
    }
    // The timer may be in the middle of its own expiry: it goes once the event loop is back.
    ~QtTimer() override {
        timer->stop();
        timer->deleteLater();
    }
    void setInterval(int milliseconds) override { timer->setInterval(milliseconds); }

private:
    QTimer* timer;
};

} // namespace

std::unique_ptr<TimerSource::Timer> QtTimerSource::startTimer(int milliseconds,
                                                              std::function<void()> expired) {
    return std::make_unique<QtTimer>(milliseconds, std::move(expired));
}
