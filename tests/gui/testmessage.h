#pragma once

// A real message for the player tests, written by the program's own writer:
// a bright bar moving over a dark 320 x 240 picture at 20 frames a second,
// with a quiet hum.

#include "recorder/wmvwriter.h"

#include <QByteArray>
#include <QFileInfo>
#include <QString>

#include <atomic>
#include <memory>

namespace testmessage {
constexpr int kWidth = 320;
constexpr int kHeight = 240;
} // namespace testmessage

inline bool writeMessage(const QString& path, int seconds = 2) {
    using namespace testmessage;
    auto now = std::make_shared<std::atomic<std::uint32_t>>(1000);
    CWmvWriter writer(path, QStringLiteral("{29B00C2B-09A9-48BD-AD09-CDAE117D1DA7}"), 20,
                      [now] { return now->load(); });
    QByteArray frame(kWidth * kHeight * 3, '\0');
    const QByteArray sound(1102, char(128 + 8)); // 50 ms of 8-bit mono at 22,050 Hz
    for (int i = 0; i < seconds * 20; ++i) {
        const int left = i * 8 % kWidth;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const bool bar = x >= left && x < left + 24;
                char* p = frame.data() + (y * kWidth + x) * 3;
                p[0] = p[1] = p[2] = char(bar ? 230 : 40);
            }
        if (writer.WriteFrame(kWidth, kHeight, reinterpret_cast<const unsigned char*>(frame.data()),
                              24) != S_OK)
            return false;
        if (writer.WriteAudio(reinterpret_cast<const unsigned char*>(sound.data()),
                              int(sound.size())) != S_OK)
            return false;
        now->fetch_add(50);
    }
    writer.Close();
    return QFileInfo(path).size() > 0;
}
