#include "gui/detailswindow.h"

#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace gui {

namespace {
constexpr int MemoLines = 2000; // the memo keeps the newest lines
}

DetailsWindow::DetailsWindow(QWidget* parent) : QWidget(parent, Qt::Tool) {
    setObjectName("Form2");
    setWindowTitle("Details");
    auto* col = new QVBoxLayout(this);
    col->addWidget(new QLabel("Still to be processed:", this));
    htmlbuf_ = new QListWidget(this);
    htmlbuf_->setObjectName("htmlbuf");
    col->addWidget(htmlbuf_, 1);
    col->addWidget(new QLabel("Live at the TCP:", this));
    statusmemo_ = new QPlainTextEdit(this);
    statusmemo_->setObjectName("statusmemo");
    statusmemo_->setReadOnly(true);
    statusmemo_->setMaximumBlockCount(MemoLines);
    statusmemo_->setPlainText("Status:");
    col->addWidget(statusmemo_, 2);
    resize(420, 360);
}

void DetailsWindow::setQueue(const QStringList& urls) {
    if (queue() == urls) return;
    htmlbuf_->clear();
    htmlbuf_->addItems(urls);
}

QStringList DetailsWindow::queue() const {
    QStringList out;
    for (int i = 0; i < htmlbuf_->count(); ++i)
        out << htmlbuf_->item(i)->text();
    return out;
}

void DetailsWindow::addStatusLine(const QString& line) {
    statusmemo_->appendPlainText(line);
}

QString DetailsWindow::statusText() const {
    return statusmemo_->toPlainText();
}

} // namespace gui
