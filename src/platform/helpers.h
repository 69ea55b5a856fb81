#pragma once

// Small stand-ins for what the desktop platform offers: the tick counter
// message names are made from, the timer scale every period goes through,
// and the trimming of typed entries.

#include <QString>
#include <QStringList>

#include <cstdint>

// Milliseconds since boot as an unsigned 32-bit value; it wraps after about
// 49.7 days, like the counter the message names were designed around.
std::uint32_t GetTickCount();
// Message names print the tick value signed, so after about 24.9 days of
// uptime it carries a leading minus sign.
QString tickText(std::uint32_t tick);

// Every timer and worker period goes through scaledPeriod(), so tests can run
// the same code faster by setting one factor instead of editing constants.
// The factor comes from CLIPNOTE_TIMER_SCALE (for example 0.1) or from
// setTimerScale(); it is 1 otherwise.
int scaledPeriod(int milliseconds);
void setTimerScale(double factor);
double timerScale();

// The value of a command-line option given as "NAME VALUE" or
// "NAME=VALUE" (the first one given); empty when it is not there.
QString optionValue(const QStringList& arguments, const QString& name);

// The text without the white space at its end; white space at its start
// stays. Entries typed into the dialogs are taken this way.
QString withoutTrailingBlanks(QString text);
