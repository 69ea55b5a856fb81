#pragma once

#include "store/options/optionspage.h"

class QCheckBox;

// A page that shows one settings value as a check box under a line of text.
class CCheckBoxPage : public COptionsPage {
    Q_OBJECT

public:
    CCheckBoxPage(const QString& title, const QString& heading, const QString& checkText,
                  const QString& checkName, const char* entry, QWidget* parent = nullptr);
    void OnOK() override;

protected:
    void OnInitDialog() override;

private:
    QCheckBox* m_check;
    const char* m_entry;
};
