#include "store/options/aboutzeb.h"

#include "store/dialogs/productinfo.h"

#include <QVBoxLayout>

CAboutZEB::CAboutZEB(QWidget* parent) : COptionsPage(QStringLiteral("Version"), parent) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new CProductInfo(this));
    layout->addStretch();
}
