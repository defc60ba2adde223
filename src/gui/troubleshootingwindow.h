#pragma once
// The troubleshooting window: a page of seven questions, and a page per
// question with its answer. Every control carries the number of the page it
// leads to (the "Back" buttons 0); a click turns to that page.

#include <QWidget>

class QStackedWidget;

namespace gui {

class TroubleshootingWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int Questions = 7;
    static const char* question(int n); // n = 1 .. 7

    explicit TroubleshootingWindow(QWidget* parent = nullptr);
    QStackedWidget* notebook() const { return notebook_; }
    // Turns to the page of the clicked control's tag.
    void Button1Click(int tag);

private:
    QWidget* tagged(QWidget* control, int tag);
    QStackedWidget* notebook_;
};

} // namespace gui
