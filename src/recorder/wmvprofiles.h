#pragma once

#include <QStringView>

#include <array>

// The system profiles the writer knows, each identified by the GUID callers
// pass in. A profile lists its streams in the order they appear in the file.
enum class WmvMedia { Video, Audio };

struct WmvStreamFormat {
    WmvMedia media;
    const char* codec; // encoder name
    int bitRate;       // bits per second
    int width;         // video only
    int height;        // video only
    int sampleRate;    // sound only
    int channels;      // sound only
};

struct WmvProfile {
    const char* id; // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"
    const char* name;
    std::array<WmvStreamFormat, 2> streams;
    int streamCount;
};

// The profile with this identifier, compared without regard to case and with
// or without the braces; null for an identifier that names no known profile.
const WmvProfile* findWmvProfile(QStringView id);
