#pragma once
// The details window: the search queries still to be sent and the download
// engine's live lines (written only while the window is visible).

#include <QWidget>

class QListWidget;
class QPlainTextEdit;

namespace gui {

class DetailsWindow : public QWidget {
    Q_OBJECT
public:
    explicit DetailsWindow(QWidget* parent = nullptr);
    void setQueue(const QStringList& urls);  // htmlbuf
    void addStatusLine(const QString& line); // statusmemo
    QStringList queue() const;
    QString statusText() const;

private:
    QListWidget* htmlbuf_;
    QPlainTextEdit* statusmemo_;
};

} // namespace gui
