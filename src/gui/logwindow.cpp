#include "gui/logwindow.h"

#include "gui/listmodel.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QListView>
#include <QScreen>
#include <QToolButton>

namespace gui {

LogWindow::LogWindow(shell::DownloadLog& log, QWidget* parent) : QWidget(parent, Qt::Tool), log_(log) {
    setObjectName("Log");
    setWindowTitle("Log");
    resize(ClientWidth, ClientHeight);

    model_ = new ListViewModel(log_.dllog, {"URL"}, this);
    dllog_ = new QListView(this);
    dllog_->setObjectName("dllog");
    dllog_->setModel(model_);
    dllog_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    dllog_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    dllog_->setUniformItemSizes(true);
    model_->bindSelection(dllog_->selectionModel());
    connect(dllog_, &QListView::doubleClicked, this, [this] { log_.dllogDblClick(); });

    auto* label = new QLabel("Double-Click item to restart/continue downloading the file.", this);
    label->setObjectName("Label1");
    clear_ = new QToolButton(this);
    clear_->setObjectName("RxSpeedButton1");
    clear_->setText("Clear Log");
    clear_->setAutoRaise(true);
    connect(clear_, &QToolButton::clicked, this, [this] { log_.RxSpeedButton1Click(); });

    // The list across the top, the label and the button below it.
    dllog_->setGeometry(0, 0, ClientWidth, ListHeight);
    label->setGeometry(4, ListHeight + 8, ClientWidth - 68, 20);
    clear_->setGeometry(ClientWidth - 64, ListHeight + 5, 62, 26);
    setFixedSize(ClientWidth, ClientHeight);
}

void LogWindow::showLog() {
    if (!isVisible()) {
        log_.ShowLog1Click();
        const auto& r = log_.placement.NormPos;
        if (r != std::array<int, 4>{0, 0, ClientWidth, ClientHeight}) {
            move(r[0], r[1]);
        } else if (const QScreen* s = QGuiApplication::primaryScreen()) {
            move(s->availableGeometry().center() - QPoint(ClientWidth / 2, ClientHeight / 2));
        }
        if (log_.placement.ShowCmd == 2) showMinimized();
    }
    show();
    raise();
}

void LogWindow::closeEvent(QCloseEvent* event) {
    const QPoint at = pos();
    log_.placement.NormPos = {at.x(), at.y(), at.x() + width(), at.y() + height()};
    log_.placement.ShowCmd = isMinimized() ? 2 : 1;
    log_.FormClose();
    QWidget::closeEvent(event);
}

} // namespace gui
