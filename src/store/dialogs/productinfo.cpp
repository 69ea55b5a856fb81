#include "store/dialogs/productinfo.h"

#include "app/commandline.h"
#include "platform/resources.h"
#include "service/serviceaddress.h"

#include <QGridLayout>
#include <QLabel>
#include <QPixmap>

CProductInfo::CProductInfo(QWidget* parent) : QWidget(parent) {
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("productIcon"));
    icon->setPixmap(QPixmap::fromImage(loadIconResource(kIconApp)));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(icon, 0, 0, 3, 1);
    const QStringList texts = lines();
    for (int row = 0; row < texts.size(); ++row) {
        auto* line = new QLabel(texts.at(row), this);
        line->setObjectName(QStringLiteral("productLine%1").arg(row));
        layout->addWidget(line, row, 1);
    }
    layout->setColumnStretch(1, 1);
}

QStringList CProductInfo::lines() {
    return {QStringLiteral("Clipnote Version ") + clipnoteVersion(),
            QStringLiteral("Video messages from your desktop to anyone"),
            QString::fromLatin1(kServiceWebAddress)};
}
