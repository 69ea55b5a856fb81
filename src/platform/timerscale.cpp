#include "platform/timerscale.h"

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <cmath>

namespace {
double initialScale() {
    bool ok = false;
    const double v = qEnvironmentVariable("CLIPNOTE_TIMER_SCALE").toDouble(&ok);
    return ok && v > 0.0 && v <= 1.0 ? v : 1.0;
}

std::atomic<double>& scale() {
    static std::atomic<double> value{initialScale()};
    return value;
}
} // namespace

int scaledPeriod(int milliseconds) {
    if (milliseconds <= 0)
        return milliseconds;
    const long v = std::lround(milliseconds * scale().load());
    return v < 1 ? 1 : static_cast<int>(v);
}

void setTimerScale(double factor) {
    scale().store(factor > 0.0 ? factor : 1.0);
}

double timerScale() {
    return scale().load();
}
