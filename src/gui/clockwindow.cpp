#include "gui/clockwindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QtMath>

namespace gui {

namespace {

const QColor EraseColour(shell::DownloadTimer::EraseRed, shell::DownloadTimer::EraseGreen,
                         shell::DownloadTimer::EraseBlue);
constexpr int ImageWidth = 233, ImageHeight = 201, ImageTop = 16;

QPoint toQt(shell::ClockPoint p) {
    return {p.x, p.y};
}

// The face picture: a dial in the erase colour around the hub, hour marks and
// numbers outside the hand's reach, so erasing the hand never touches them.
QImage facePicture() {
    QImage img(ImageWidth, ImageHeight, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF hub(shell::DownloadTimer::Hub.x, shell::DownloadTimer::Hub.y);
    p.setPen(QPen(QColor(90, 90, 110), 3));
    p.setBrush(EraseColour);
    p.drawEllipse(hub, 96, 96);
    QFont f("Verdana", 9, QFont::Bold);
    p.setFont(f);
    for (int h = 1; h <= 12; ++h) {
        const double a = qDegreesToRadians(h * 30.0 - 90);
        const QPointF dir(std::cos(a), std::sin(a));
        p.setPen(QPen(QColor(60, 60, 80), h % 3 == 0 ? 3 : 1));
        p.drawLine(hub + dir * 84, hub + dir * 92);
        const QPointF c = hub + dir * 70;
        p.drawText(QRectF(c.x() - 12, c.y() - 9, 24, 18), Qt::AlignCenter, QString::number(h));
    }
    return img;
}

} // namespace

// Image1: the picture with the hand drawn on its canvas.
class ClockFace : public QWidget {
public:
    explicit ClockFace(QWidget* parent) : QWidget(parent), canvas(facePicture()) {
        setObjectName("Image1");
        setGeometry(0, ImageTop, ImageWidth, ImageHeight);
    }
    void line(shell::ClockPoint to, const QColor& colour) {
        QPainter p(&canvas);
        p.setPen(QPen(colour, 1));
        p.drawLine(toQt(shell::DownloadTimer::Hub), toQt(to));
        update();
    }
    QImage canvas;

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(0, 0, canvas); }
};

namespace {

// Shape1: the black hub of the hand.
class Hub : public QWidget {
public:
    explicit Hub(QWidget* parent) : QWidget(parent) {
        setObjectName("Shape1");
        setGeometry(105, 109, 9, 17);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.drawEllipse(rect());
    }
};

} // namespace

ClockWindow::ClockWindow(shell::DownloadTimer& timer, QWidget* parent)
    : QWidget(parent, Qt::Tool), timer_(timer) {
    setObjectName("Form3");
    setWindowTitle("Alarm Clock");
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    setFixedSize(ClientWidth, ClientHeight);

    auto* Label1 = new QLabel("Place the hand at the hour desired for connection", this);
    Label1->setObjectName("Label1");
    Label1->move(4, 0);
    Image1_ = new ClockFace(this);
    Image1_->installEventFilter(this);
    new Hub(this);

    auto* ampmimage = new QLabel(this);
    ampmimage->setObjectName("ampmimage");
    ampmimage->setGeometry(240, 88, 56, 24);
    ampmimage->setStyleSheet("background: #30304a; border-radius: 5px;");
    ampm_ = new QLabel(this);
    ampm_->setObjectName("ampm");
    ampm_->setFont(QFont("Verdana", 10, QFont::Bold));
    ampm_->setStyleSheet(QString("color: %1;").arg(EraseColour.name()));
    ampm_->move(262, 91);
    ampm_->setCursor(Qt::PointingHandCursor);
    ampm_->installEventFilter(this);
    Label2_ = new QLabel(this);
    Label2_->setObjectName("Label2");
    Label2_->setGeometry(48, 216, ClientWidth - 52, 18);

    timer_.handMoved.connect(receiver_, [this](shell::ClockPoint from, shell::ClockPoint to) {
        Image1_->line(from, EraseColour);
        Image1_->line(to, Qt::black);
    });
    timer_.changed.connect(receiver_, [this] { refresh(); });
    timer_.closed.connect(receiver_, [this] { hide(); });
    if (timer_.handEnd() != shell::DownloadTimer::Hub) Image1_->line(timer_.handEnd(), Qt::black);
    refresh();
    // Centred on the screen.
    if (const QScreen* s = QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - QPoint(ClientWidth / 2, ClientHeight / 2));
}

const QImage& ClockWindow::canvas() const {
    return Image1_->canvas;
}

void ClockWindow::refresh() {
    ampm_->setText(QString::fromStdString(timer_.ampm()));
    ampm_->adjustSize();
    Label2_->setText(QString::fromStdString(timer_.Label2()));
}

void ClockWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!timer_.visible()) timer_.FormShow();
}

void ClockWindow::closeEvent(QCloseEvent* event) {
    timer_.FormClose();
    QWidget::closeEvent(event);
}

bool ClockWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        if (watched == Image1_) {
            const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
            timer_.Image1MouseDown(at.x(), at.y());
            return true;
        }
        if (watched == ampm_) {
            timer_.ampmClick();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace gui
