#pragma once

#include <QDialog>

// The About box of the main window's system menu: the product text and OK.
class CAboutBox : public QDialog {
    Q_OBJECT

public:
    explicit CAboutBox(QWidget* parent = nullptr);
};
