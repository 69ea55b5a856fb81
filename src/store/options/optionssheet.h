#pragma once

#include <QDialog>
#include <QList>

class COptionsPage;
class QTabWidget;

// The Options sheet "Settings": Version, Security, Sending, Receiving and
// Devices, the first shown at opening. OK lets every page the user has shown write its
// value; Cancel writes nothing; Apply is there but always disabled.
class COptionsSheet : public QDialog {
    Q_OBJECT

public:
    explicit COptionsSheet(QWidget* parent = nullptr);

    // Appends a page; the sheet takes it over.
    void AddPage(COptionsPage* page);
    QTabWidget* tabWidget() const { return m_tabs; }
    COptionsPage* page(int index) const;

    void accept() override;

private:
    QTabWidget* m_tabs;
    QList<COptionsPage*> m_pages;
};
