#include "gui/helpwindow.h"

#include <QPlainTextEdit>
#include <QTabWidget>
#include <QVBoxLayout>

namespace gui {

namespace {

const char* const HelpText =
    "Wavetrap finds MP3 files on FTP sites through web search engines and downloads them.\n\n"
    "Searching\n"
    "Type a phrase into \"Enter search phrase:\" and press Enter (or \"Search!\"). The phrase goes "
    "to every engine of the engine list at once (Windows > Configuration). Every ftp:// link to an "
    ".mp3 file on the result pages joins the table, at most 150 per search, ordered by the score "
    "of its site: sites that delivered files before score high, sites that failed score low. With "
    "Links > Offer http:// and https:// links checked, http:// and https:// links to .mp3 files join "
    "it too. When the search ends, the status bar says how many files it found and which engines "
    "failed. Click a column's title to sort the table by it; the box above the table shows only the "
    "files holding the text typed in it.\n\n"
    "Views\n"
    "The \"Views\" button switches between all results, the results by site (pick a site on the "
    "left to see its files) and the download status.\n\n"
    "Downloading\n"
    "Select files and press \"Download\" or double-click one; with nothing selected every file is "
    "taken. Fourteen connections work at once, one site each. Files land in the folder Wavetrap "
    "was started from; a partial file is continued. Downloads still running when you quit are "
    "continued at the next start.\n\n"
    "Other commands\n"
    "\"Get URL:\" downloads an ftp://, http:// or https:// address you type at once. Links > Save to list "
    "writes the "
    "selected addresses (all of them when none is selected) to a text file. Links > More from this site "
    "searches for the name of the "
    "chosen file's site. Reset > Statistics forgets every site's score.\n\n"
    "Settings and statistics are kept in ~/.config/wavetrap (or $WAVETRAP_CONFIG_DIR).";

const char* const DisclaimerText =
    "Wavetrap is provided as it is, without any warranty.\n\n"
    "Wavetrap only asks search engines you choose and fetches files from FTP sites that offer "
    "them. Whether you may download, keep or share a file depends on its licence and on the law "
    "where you live. Many recordings are protected by copyright: download only what its owner "
    "allows, such as music released under a free licence or recordings in the public domain.\n\n"
    "You are responsible for the files you download.";

QPlainTextEdit* page(const char* text, QWidget* parent) {
    auto* memo = new QPlainTextEdit(text, parent);
    memo->setReadOnly(true);
    return memo;
}

} // namespace

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Tool) {
    setObjectName("helpform");
    setWindowTitle("Wavetrap Help");
    auto* col = new QVBoxLayout(this);
    pages_ = new QTabWidget(this);
    pages_->addTab(page(HelpText, pages_), "Help");
    pages_->addTab(page(DisclaimerText, pages_), "Disclaimer");
    col->addWidget(pages_);
    resize(460, 420);
}

} // namespace gui
