#include "gui/gradientcaption.h"

#include <QLinearGradient>
#include <QPainter>

namespace gui {

GradientCaption::GradientCaption(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void GradientCaption::setParts(const QString& first, const QString& second) {
    first_ = first;
    second_ = second;
    update();
}

QSize GradientCaption::sizeHint() const {
    return {200, fontMetrics().height() + 6};
}

void GradientCaption::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QLinearGradient g(0, 0, width(), 0);
    g.setColorAt(0, QColor(0x00, 0x00, 0x80));
    g.setColorAt(1, QColor(0x10, 0x84, 0xD0));
    p.fillRect(rect(), g);
    QFont bold = font();
    bold.setBold(true);
    p.setFont(bold);
    p.setPen(QColor(0xC0, 0xC0, 0xC0));
    const QRect r = rect().adjusted(6, 0, -6, 0);
    p.drawText(r, Qt::AlignVCenter | Qt::AlignLeft, first_);
    const int x = QFontMetrics(bold).horizontalAdvance(first_);
    p.setFont(font());
    p.setPen(Qt::white);
    p.drawText(r.adjusted(x, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, second_);
}

} // namespace gui
