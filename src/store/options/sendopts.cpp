#include "store/options/sendopts.h"

#include "platform/profile.h"

CSendOpts::CSendOpts(QWidget* parent)
    : CCheckBoxPage(QStringLiteral("Sending"), QStringLiteral("When I send a message..."),
                    QStringLiteral("Save a copy in my SENT folder."), QStringLiteral("saveSent"),
                    kSettingSaveSent, parent) {}
