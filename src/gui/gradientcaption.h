#pragma once
// A slim header strip in the manner of a two-tone gradient title bar: the
// first part of its text bold and silver, the second plain and white, on a
// gradient from navy to light blue.

#include <QWidget>

namespace gui {

class GradientCaption : public QWidget {
    Q_OBJECT
public:
    explicit GradientCaption(QWidget* parent = nullptr);
    void setParts(const QString& first, const QString& second);
    QString firstPart() const { return first_; }
    QString secondPart() const { return second_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString first_, second_;
};

} // namespace gui
