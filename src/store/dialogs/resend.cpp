#include "store/dialogs/resend.h"

#include "platform/dialogbuttons.h"

#include <QComboBox>
#include <QVBoxLayout>

CResend::CResend(ContactStore contacts, QWidget* parent)
    : QDialog(parent), m_contacts(std::move(contacts)) {
    setWindowTitle(QStringLiteral("Resend To"));
    m_comboContacts = new QComboBox(this);
    m_comboContacts->setObjectName(QStringLiteral("contacts"));
    m_comboContacts->setEditable(false);
    m_comboContacts->setSizeAdjustPolicy(QComboBox::AdjustToContents);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_comboContacts);
    layout->addLayout(okCancelButtons(this));
}

void CResend::showEvent(QShowEvent* event) {
    if (!m_opened) {
        m_opened = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CResend::OnInitDialog() {
    // Unreadable contact files are left out by the listing.
    for (const Contact& contact : m_contacts.list())
        m_comboContacts->insertItem(0, contact.id, contact.id);
    int selected = -1;
    for (int i = 0; i < m_comboContacts->count(); ++i) {
        if (m_comboContacts->itemText(i).compare(m_strTo, Qt::CaseInsensitive) == 0)
            selected = i;
    }
    m_comboContacts->setCurrentIndex(selected);
}

void CResend::accept() {
    const int selected = m_comboContacts->currentIndex();
    if (selected < 0)
        return;
    m_strTo = m_comboContacts->itemData(selected).toString();
    QDialog::accept();
}
