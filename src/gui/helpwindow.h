#pragma once
// The help window: a "Help" page on using Wavetrap and a "Disclaimer" page.

#include <QWidget>

class QTabWidget;

namespace gui {

class HelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent = nullptr);
    QTabWidget* pages() const { return pages_; }

private:
    QTabWidget* pages_;
};

} // namespace gui
