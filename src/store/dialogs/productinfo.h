#pragma once

#include <QStringList>
#include <QWidget>

// The program's icon beside its name, version and two product lines, as both
// the About box and the Version page of the Options sheet show them.
class CProductInfo : public QWidget {
    Q_OBJECT

public:
    explicit CProductInfo(QWidget* parent = nullptr);

    // The three lines in the order shown: version first, the service's web
    // address last.
    static QStringList lines();
};
