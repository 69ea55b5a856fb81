#include "platform/popupmenu.h"

#include <QAction>
#include <QMenu>

namespace {
PopupMenuHook g_hook;
constexpr char kCommandProperty[] = "clipnoteCommand";
} // namespace

void setPopupMenuHook(PopupMenuHook hook) {
    g_hook = std::move(hook);
}

QAction* execPopupMenu(QMenu& menu, const QPoint& globalPosition) {
    if (g_hook) {
        QAction* chosen = g_hook(menu);
        if (chosen && chosen->isEnabled())
            chosen->trigger();
        return chosen && chosen->isEnabled() ? chosen : nullptr;
    }
    return menu.exec(globalPosition);
}

QAction* addCommand(QMenu& menu, const QString& text, int command) {
    QAction* action = menu.addAction(text);
    action->setProperty(kCommandProperty, command);
    return action;
}

int commandOf(const QAction* action) {
    return action ? action->property(kCommandProperty).toInt() : 0;
}

QAction* findCommand(const QMenu& menu, int command) {
    for (QAction* action : menu.actions()) {
        if (commandOf(action) == command)
            return action;
    }
    return nullptr;
}
