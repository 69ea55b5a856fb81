#include "platform/helpers.h"

#include <QtGlobal>

#include <atomic>
#include <cmath>
#include <ctime>

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

std::uint32_t GetTickCount() {
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    const auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                    static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

QString tickText(std::uint32_t tick) {
    return QString::number(static_cast<std::int32_t>(tick));
}

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

QString withoutTrailingBlanks(QString text) {
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1).isSpace())
        --end;
    text.truncate(end);
    return text;
}

QString optionValue(const QStringList& arguments, const QString& name) {
    const int at = static_cast<int>(arguments.indexOf(name));
    if (at >= 0 && at + 1 < arguments.size())
        return arguments.at(at + 1);
    const QString prefix = name + QLatin1Char('=');
    for (const QString& argument : arguments)
        if (argument.startsWith(prefix))
            return argument.mid(prefix.size());
    return {};
}
