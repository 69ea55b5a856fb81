#pragma once

// Every timer and worker period goes through scaledPeriod(), so tests can run
// the same code faster by setting one factor instead of editing constants.
// The factor comes from CLIPNOTE_TIMER_SCALE (for example 0.1) or from
// setTimerScale(); it is 1 otherwise.
int scaledPeriod(int milliseconds);
void setTimerScale(double factor);
double timerScale();
