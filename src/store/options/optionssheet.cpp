#include "store/options/optionssheet.h"

#include "store/options/aboutzeb.h"
#include "store/options/devicesopts.h"
#include "store/options/notifysettings.h"
#include "store/options/securityopts.h"
#include "store/options/sendopts.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

COptionsSheet::COptionsSheet(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Settings"));
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("pages"));
    // Every page's tab in sight: the sheet is made wide enough for all.
    m_tabs->tabBar()->setUsesScrollButtons(false);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    connect(ok, &QPushButton::clicked, this, &COptionsSheet::accept);
    connect(cancel, &QPushButton::clicked, this, &COptionsSheet::reject);
    // The pages write only on OK and never mark themselves changed, so Apply
    // has nothing to do and stays disabled.
    auto* apply = new QPushButton(QStringLiteral("&Apply"), this);
    apply->setObjectName(QStringLiteral("apply"));
    apply->setEnabled(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addWidget(apply);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addLayout(buttons);

    AddPage(new CAboutZEB);
    AddPage(new CSecurityOpts);
    AddPage(new CSendOpts);
    AddPage(new CNotifySettings);
    AddPage(new CDevicesOpts);
    m_tabs->setCurrentIndex(0);
}

void COptionsSheet::AddPage(COptionsPage* page) {
    m_pages.append(page);
    m_tabs->addTab(page, page->title());
}

COptionsPage* COptionsSheet::page(int index) const {
    return m_pages.value(index);
}

void COptionsSheet::accept() {
    for (COptionsPage* page : std::as_const(m_pages)) {
        if (page->initialised())
            page->OnOK();
    }
    QDialog::accept();
}
