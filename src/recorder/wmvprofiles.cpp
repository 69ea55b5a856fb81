#include "recorder/wmvprofiles.h"

#include <QString>

namespace {

// 384 kbit/s in all: the sound takes the 32 kbit/s mode of the second-generation
// audio codec at 22,050 Hz mono (the rate the microphone is captured at, so the
// sound is never resampled), and the picture the remaining 352 kbit/s.
constexpr WmvProfile kProfiles[] = {
    {"{29B00C2B-09A9-48BD-AD09-CDAE117D1DA7}",
     "Windows Media Video 8 for broadband (384 kbit/s)",
     {{{WmvMedia::Audio, "wmav2", 32000, 0, 0, 22050, 1},
       {WmvMedia::Video, "wmv2", 352000, 320, 240, 0, 0}}},
     2},
};

QStringView withoutBraces(QStringView id) {
    if (id.size() >= 2 && id.front() == u'{' && id.back() == u'}')
        id = id.mid(1, id.size() - 2);
    return id;
}

} // namespace

const WmvProfile* findWmvProfile(QStringView id) {
    const QStringView wanted = withoutBraces(id);
    for (const WmvProfile& profile : kProfiles) {
        const QString known = QString::fromLatin1(profile.id);
        if (withoutBraces(known).compare(wanted, Qt::CaseInsensitive) == 0)
            return &profile;
    }
    return nullptr;
}
