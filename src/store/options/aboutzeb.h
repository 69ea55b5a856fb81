#pragma once

#include "store/options/optionspage.h"

// The Version page: the same product text as the About box; no setting.
class CAboutZEB : public COptionsPage {
    Q_OBJECT

public:
    explicit CAboutZEB(QWidget* parent = nullptr);
};
