#include "mainwnd/statusline.h"

#include "app/appfonts.h"

StatusLine::StatusLine(QWidget* parent) : QLabel(parent) {
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setFont(appFonts().bold14);
    setAutoFillBackground(false);
    setStatus(QString());
}

QColor StatusLine::colourFor(const QString& text) {
    if (text.startsWith(QLatin1String("Recording")))
        return QColor(192, 128, 128);
    if (text.startsWith(QLatin1String("Start")))
        return QColor(128, 192, 128);
    return QColor(128, 128, 192);
}

void StatusLine::setStatus(const QString& text) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, colourFor(text));
    setPalette(p);
    setText(text);
    repaint();
}
