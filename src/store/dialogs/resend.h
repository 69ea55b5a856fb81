#pragma once

#include "store/contactstore.h"

#include <QDialog>
#include <QString>

class QComboBox;

// "Resend To": picks the contact a kept message is sent to again. The list
// shows the contacts' user IDs (not their display names), in the reverse of
// the folder's order; the contact matching m_strTo (letter case ignored, the
// last match when several do) starts selected. OK needs a selection; after
// OK m_strTo is the picked user ID. The dialog itself touches no file.
class CResend : public QDialog {
    Q_OBJECT

public:
    explicit CResend(ContactStore contacts, QWidget* parent = nullptr);

    QString m_strTo;

protected:
    void showEvent(QShowEvent* event) override;
    void accept() override;

private:
    void OnInitDialog();

    ContactStore m_contacts;
    QComboBox* m_comboContacts;
    bool m_opened = false;
};
