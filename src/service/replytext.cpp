#include "service/replytext.h"

namespace {
constexpr qsizetype kLongestShownReply = 2000;
constexpr qsizetype kLongestShownLine = 100;

bool isUnreadable(QChar c) {
    if (c == QChar::ReplacementCharacter || c.isNull())
        return true;
    const char16_t u = c.unicode();
    return u < 0x20 && u != u'\r' && u != u'\n' && u != u'\t';
}
} // namespace

QString replyForDisplay(const QString& reply) {
    if (reply.trimmed().isEmpty())
        return QStringLiteral("The service did not answer. Check your network connection and "
                              "try again.");
    qsizetype unreadable = 0;
    for (QChar c : reply) {
        if (isUnreadable(c))
            ++unreadable;
    }
    if (unreadable > 0)
        return QStringLiteral("The service sent an answer that is not text. Please try again "
                              "later.");
    QString shown = reply.size() > kLongestShownReply
                        ? reply.left(kLongestShownReply) + QStringLiteral("\n[...]")
                        : reply;
    // A box grows as wide as its longest line; very long lines are broken
    // so that the box stays on the screen.
    QString wrapped;
    qsizetype column = 0;
    for (QChar c : shown) {
        if (c == QLatin1Char('\n'))
            column = -1;
        else if (column == kLongestShownLine) {
            wrapped += QLatin1Char('\n');
            column = 0;
        }
        wrapped += c;
        ++column;
    }
    return wrapped;
}
