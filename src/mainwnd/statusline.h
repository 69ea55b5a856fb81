#pragma once

#include <QLabel>

// The status line beside the record indicator: right-aligned bold text whose
// colour follows what it says - red-grey while recording, green-grey during
// the countdown, blue-grey for everything else.
class StatusLine : public QLabel {
    Q_OBJECT

public:
    explicit StatusLine(QWidget* parent = nullptr);

    // Sets the text and redraws at once.
    Q_INVOKABLE void setStatus(const QString& text);
    QString status() const { return text(); }

    static QColor colourFor(const QString& text);
};
