#pragma once

#include <QPoint>

#include <functional>

class QAction;
class QMenu;

// Every context menu of the program opens through here, so a test can look
// at the menu's items (texts, enabled state) and pick one instead of a
// person, without a modal menu loop blocking it.
QAction* execPopupMenu(QMenu& menu, const QPoint& globalPosition);

// The hook receives the menu about to open and returns the action to
// trigger, or nullptr to close it unused. An empty hook restores real menus.
using PopupMenuHook = std::function<QAction*(QMenu&)>;
void setPopupMenuHook(PopupMenuHook hook);

// The action of a menu carrying the given command number (see
// addCommand), or nullptr.
QAction* findCommand(const QMenu& menu, int command);
// Adds an item whose command number is kept with it.
QAction* addCommand(QMenu& menu, const QString& text, int command);
int commandOf(const QAction* action);
