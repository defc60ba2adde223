#pragma once
// The guide: how to get an MP3 file, step by step; opened at start-up while
// the settings say so, and by F1.

#include <QWidget>

namespace gui {

class GuideWindow : public QWidget {
    Q_OBJECT
public:
    explicit GuideWindow(QWidget* parent = nullptr);
    static QString text();

signals:
    // "Dont show this help screen on startup" was pressed.
    void dontShowAgain();
};

} // namespace gui
