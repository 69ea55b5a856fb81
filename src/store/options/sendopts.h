#pragma once

#include "store/options/checkboxpage.h"

// The Sending page: whether sent messages are kept in Sent ("SaveSent").
class CSendOpts : public CCheckBoxPage {
    Q_OBJECT

public:
    explicit CSendOpts(QWidget* parent = nullptr);
};
