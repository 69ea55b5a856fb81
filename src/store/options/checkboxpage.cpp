#include "store/options/checkboxpage.h"

#include <QCheckBox>
#include <QLabel>
#include <QVBoxLayout>

CCheckBoxPage::CCheckBoxPage(const QString& title, const QString& heading, const QString& checkText,
                             const QString& checkName, const char* entry, QWidget* parent)
    : COptionsPage(title, parent), m_entry(entry) {
    m_check = new QCheckBox(checkText, this);
    m_check->setObjectName(checkName);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(heading, this));
    layout->addWidget(m_check);
    layout->addStretch();
}

void CCheckBoxPage::OnInitDialog() {
    m_check->setChecked(readSetting(m_entry));
}

void CCheckBoxPage::OnOK() {
    writeSetting(m_entry, m_check->isChecked());
}
