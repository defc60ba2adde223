#include "gui/messagebox.h"

#include <QApplication>

namespace gui {

namespace {

// A window of the program that is shown and kept above the others.
bool anyStaysOnTop() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && (w->windowFlags() & Qt::WindowStaysOnTopHint)) return true;
    return false;
}

} // namespace

QWidget* frontWindow(QWidget* fallback) {
    // A window kept in front of the main window (the settings window) stands
    // above whatever has the focus.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->parentWidget() && (w->windowFlags() & Qt::WindowStaysOnTopHint) &&
            !qobject_cast<QMessageBox*>(w))
            return w;
    QWidget* active = QApplication::activeWindow();
    // Another box in front: the new one joins it above the window it stands on.
    while (qobject_cast<QMessageBox*>(active) && active->parentWidget())
        active = active->parentWidget()->window();
    if (active && !qobject_cast<QMessageBox*>(active)) return active;
    return fallback ? fallback->window() : nullptr;
}

QMessageBox* showMessageBox(QWidget* fallback, QMessageBox::Icon icon, const QString& caption,
                            const QString& text) {
    auto* box = new QMessageBox(icon, caption, text, QMessageBox::Ok, frontWindow(fallback));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    // A window kept on top would otherwise cover the box.
    if (anyStaysOnTop()) box->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box->show();
    box->raise();
    box->activateWindow();
    return box;
}

} // namespace gui
