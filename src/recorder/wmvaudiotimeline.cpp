#include "recorder/wmvaudiotimeline.h"

#include <algorithm>

WmvAudioTimeline::WmvAudioTimeline(int sampleRate, int toleranceMs)
    : m_rate(sampleRate), m_tolerance(static_cast<std::int64_t>(toleranceMs) * sampleRate / 1000) {}

void WmvAudioTimeline::start(std::uint64_t clockMs) {
    m_started = true;
    m_placed = false;
    m_position = 0;
    m_origin = 0;
    m_origin = samplesAt(clockMs);
}

void WmvAudioTimeline::advance(std::int64_t samples) {
    m_position += samples;
    m_placed = true;
}

std::int64_t WmvAudioTimeline::samplesAt(std::uint64_t clockMs) const {
    return static_cast<std::int64_t>(clockMs) * m_rate / 1000 - m_origin;
}

WmvAudioTimeline::Plan WmvAudioTimeline::plan(std::int64_t samples, std::uint64_t videoClockMs,
                                              std::uint64_t nowMs) const {
    Plan plan;
    if (!m_placed) {
        plan.silence = std::max<std::int64_t>(0, samplesAt(videoClockMs) - m_position);
        return plan;
    }
    const std::int64_t end = m_position + samples;
    const std::int64_t earliestEnd = samplesAt(videoClockMs);
    const std::int64_t latestEnd = samplesAt(nowMs);
    if (end < earliestEnd - m_tolerance)
        plan.silence = earliestEnd - end;
    else if (end > latestEnd + m_tolerance)
        plan.skip = std::min(samples, end - latestEnd);
    return plan;
}
