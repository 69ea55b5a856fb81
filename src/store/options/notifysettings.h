#pragma once

#include "store/options/checkboxpage.h"

// The Receiving page: whether a new message pops up a window ("NotifyPopup").
class CNotifySettings : public CCheckBoxPage {
    Q_OBJECT

public:
    explicit CNotifySettings(QWidget* parent = nullptr);
};
