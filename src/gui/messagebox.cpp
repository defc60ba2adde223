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
    QWidget* active = QApplication::activeWindow();
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
