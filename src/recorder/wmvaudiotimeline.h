#pragma once

#include <cstdint>

// Places captured sound on the file's time line. Sound must run on sample by
// sample, while the only clock the writer has is the one of the video
// frames; this decides, for each buffer, how much silence to put before it or
// how much of its start to leave out so that the two never drift apart by
// more than the tolerance.
//
// The time line starts with the first frame; the first buffer sits at the
// frame time it is written at, with silence before it when the microphone
// started late. Later buffers are assumed to end about when they are handed
// over, since their samples were recorded just before: so the sound may not
// run ahead of the clock extrapolated to the hand-over (nowMs), and a buffer
// handed over after a frame cannot end before that frame's time (videoClockMs).
class WmvAudioTimeline {
public:
    struct Plan {
        std::int64_t silence = 0; // samples of silence to place before the buffer
        std::int64_t skip = 0;    // samples to leave out from the start of the buffer
    };

    WmvAudioTimeline(int sampleRate, int toleranceMs);

    bool started() const { return m_started; }
    // The time line starts at this clock value, in milliseconds.
    void start(std::uint64_t clockMs);
    Plan plan(std::int64_t samples, std::uint64_t videoClockMs, std::uint64_t nowMs) const;
    void advance(std::int64_t samples);
    // The time line position in samples since the clock's zero.
    std::int64_t position() const { return m_origin + m_position; }

private:
    std::int64_t samplesAt(std::uint64_t clockMs) const;

    int m_rate;
    std::int64_t m_tolerance;
    bool m_started = false;
    bool m_placed = false;       // a buffer has been placed
    std::int64_t m_origin = 0;   // samples from the clock's zero to the start
    std::int64_t m_position = 0; // samples placed since the start
};
