#pragma once

class QDialog;
class QHBoxLayout;

// The OK and Cancel buttons at the bottom right of a small dialog, named
// "ok" and "cancel" so tests can press them. OK is the default button (Enter)
// and runs the dialog's accept(), Cancel its reject().
QHBoxLayout* okCancelButtons(QDialog* dialog);
