#pragma once

#include <QWidget>

// One page of the Options sheet. A page reads its settings value the first
// time the user shows it and writes it back when the sheet closes with OK,
// but only if it was shown: a page never seen writes nothing.
class COptionsPage : public QWidget {
    Q_OBJECT

public:
    explicit COptionsPage(const QString& title, QWidget* parent = nullptr);

    const QString& title() const { return m_title; }
    bool initialised() const { return m_initialised; }

    // Called by the sheet on OK, for pages that have been shown.
    virtual void OnOK() {}

protected:
    // Fills the page's controls; runs once, when the page is first shown.
    virtual void OnInitDialog() {}
    void showEvent(QShowEvent* event) override;

    // The values of section "Settings"; each is 0 or 1 and 1 when missing.
    // A value that cannot be written is passed over without a message.
    static bool readSetting(const char* entry);
    static void writeSetting(const char* entry, bool on);

private:
    QString m_title;
    bool m_initialised = false;
};
