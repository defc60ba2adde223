#pragma once
// Message boxes that open where the user looks: above the window in front,
// even when that one stays on top of the others (the settings window, the
// guide), and without holding up any window.

#include <QMessageBox>
#include <QString>

namespace gui {

// The window a box should stand above: a window kept in front of the main
// window, else the active window of the program, else the fallback's window.
QWidget* frontWindow(QWidget* fallback);

// Shows a box with an OK button; it closes (and goes) when answered. Input
// goes on to every other window while it is open.
QMessageBox* showMessageBox(QWidget* fallback, QMessageBox::Icon icon, const QString& caption,
                            const QString& text);

} // namespace gui
