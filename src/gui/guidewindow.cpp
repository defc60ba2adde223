#include "gui/guidewindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QVBoxLayout>

namespace gui {

QString GuideWindow::text() {
    return "1. Type a word from the name of a song into \"Enter search phrase:\" and press Enter.\n\n"
           "2. Wait while the search engines answer: the small bar in the toolbar fills up and the "
           "files found appear in the table, the sites that served downloads well at the top. "
           "Files on web sites (http:// and https:// links) are offered too when Links > Offer "
           "http:// and https:// links is checked.\n\n"
           "3. Pick the files you want (hold Ctrl or Shift to pick several). If you pick none, "
           "Wavetrap takes them all.\n\n"
           "4. Double-click a file, or press \"Download\" in the toolbar. Wavetrap shows the download "
           "status: one row per connection, with the site, what it is doing and how far it got.\n\n"
           "5. The files arrive in the folder Wavetrap was started from, under their names on the "
           "site. A file that was cut off is continued where it stopped the next time.\n\n"
           "To stop a download, select its row in the download status and double-click it, or "
           "right-click and choose \"Cancel Download\".\n\n"
           "To fetch a file whose address you know, type its ftp://, http:// or https:// URL into "
           "\"Get URL:\" and press Enter.\n\n"
           "Press F1 to see this guide again.";
}

// A window of its own, opened beside the main window: the main window comes
// in front of it once the user works there. It does not keep the program open.
GuideWindow::GuideWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setAttribute(Qt::WA_QuitOnClose, false);
    setObjectName("Guide");
    setWindowTitle("Guide");
    auto* col = new QVBoxLayout(this);
    auto* heading = new QLabel("   How to Get that Mp3:", this);
    QFont f = heading->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.3);
    heading->setFont(f);
    col->addWidget(heading);
    auto* memo = new QPlainTextEdit(text(), this);
    memo->setObjectName("Memo1");
    memo->setReadOnly(true);
    col->addWidget(memo, 1);
    auto* row = new QHBoxLayout;
    auto* button = new QToolButton(this);
    button->setObjectName("Button1");
    button->setFixedSize(16, 16);
    button->setAccessibleName("Dont show this help screen on startup");
    row->addWidget(button);
    row->addWidget(new QLabel("Dont show this help screen on startup", this), 1);
    col->addLayout(row);
    connect(button, &QToolButton::clicked, this, &GuideWindow::dontShowAgain);
    resize(380, 420);
}

} // namespace gui
