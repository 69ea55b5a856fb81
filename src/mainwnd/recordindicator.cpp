#include "mainwnd/recordindicator.h"

#include "platform/resources.h"

#include <QLabel>
#include <QPixmap>

namespace {
constexpr int kIconOfState[4] = {kIconNoRecording, kIconReady, kIconCountingDown, kIconRecording};
constexpr int kIconSize = 32;
} // namespace

RecordIndicator::RecordIndicator(QWidget* parent) : QWidget(parent) {
    setFixedSize(kIconSize, kIconSize);
    for (int state = 0; state < 4; ++state) {
        auto* icon = new QLabel(this);
        icon->setObjectName(QStringLiteral("indicator%1").arg(state));
        icon->setGeometry(0, 0, kIconSize, kIconSize);
        icon->setPixmap(QPixmap::fromImage(loadIconResource(kIconOfState[state], kIconSize)));
        // Presses on the indicator belong to the main window's gesture.
        icon->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_icons[static_cast<std::size_t>(state)] = icon;
    }
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setState(NoRecording);
}

void RecordIndicator::setState(int state) {
    if (state < NoRecording || state > Recording)
        state = NoRecording;
    m_state = state;
    for (int i = 0; i < 4; ++i)
        m_icons[static_cast<std::size_t>(i)]->setVisible(i == state);
}
