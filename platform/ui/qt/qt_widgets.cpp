#include "platform/ui/qt/qt_widgets.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QPainter>

namespace ui::qt {

// ---- PanelWindow ----------------------------------------------------------------

PanelWindow::PanelWindow(int panel) : QWidget(nullptr), panel_(panel) {}

void PanelWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    PostEvent(panel_, 0, EVENT_CLOSE);
}

// ---- LampWidget -----------------------------------------------------------------

LampWidget::LampWidget(QWidget* parent) : QWidget(parent) {}

void LampWidget::SetState(bool on, int color) {
    if (on == on_ && color == color_) return;
    on_ = on;
    color_ = color;
    update();
}

void LampWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int side = std::min(width(), height());
    const int diameter = std::max(4, side - 2);
    const QRectF circle((side - diameter) / 2.0 + 0.5, (height() - diameter) / 2.0 + 0.5,
                        diameter - 1, diameter - 1);
    QColor fill =
        on_ ? QColor::fromRgb(static_cast<QRgb>(color_) | 0xFF000000u) : QColor(0x40, 0x40, 0x40);
    if (!isEnabled()) fill = fill.darker(150);
    // A light rim and a highlight make it read as a lamp, not a dot.
    QRadialGradient gradient(circle.center() - QPointF(diameter / 6.0, diameter / 6.0),
                             diameter / 1.6);
    gradient.setColorAt(0, fill.lighter(on_ ? 160 : 130));
    gradient.setColorAt(1, fill);
    painter.setBrush(gradient);
    painter.setPen(QPen(QColor(0x20, 0x20, 0x20), 1));
    painter.drawEllipse(circle);
}

// ---- PictureWidget ----------------------------------------------------------------

PictureWidget::PictureWidget(int panel, int control, QWidget* parent)
    : QWidget(parent), panel_(panel), control_(control) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    moveTimer_.setSingleShot(true);
    QObject::connect(&moveTimer_, &QTimer::timeout, this, [this] { PostPendingMove(); });
    sinceLastMove_.start();
}

void PictureWidget::SetPicture(std::shared_ptr<const PictureImage> picture) {
    if (picture == picture_) return;
    picture_ = std::move(picture);
    ++generation_;
    image_ = QImage();
    if (picture_ && picture_->width > 0 && picture_->height > 0 &&
        picture_->pixels.size() >= static_cast<size_t>(picture_->width) * picture_->height) {
        // The image points into the shared pixels: no copy per frame.
        image_ = QImage(picture_->pixels.data(), picture_->width, picture_->height, picture_->width,
                        QImage::Format_Indexed8);
        QList<QRgb> colors(256, qRgb(0, 0, 0));
        for (size_t i = 0; i < picture_->palette.size() && i < 256; ++i)
            colors[static_cast<int>(i)] = static_cast<QRgb>(picture_->palette[i]) | 0xFF000000u;
        image_.setColorTable(colors);
    }
    update();
}

void PictureWidget::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), Qt::black);
    if (!image_.isNull()) painter.drawImage(QPoint(0, 0), image_);
    if (generation_ != paintedGeneration_) {
        paintedGeneration_ = generation_;
        if (picture_) picturesPainted_.fetch_add(1);
    }
}

QPoint PictureWidget::PanelPosition(const QPointF& local) const {
    // The widget sits at the control's left/top on the panel's canvas.
    return pos() + local.toPoint();
}

void PictureWidget::mouseMoveEvent(QMouseEvent* event) {
    pendingMove_ = PanelPosition(event->position());
    movePending_ = true;
    const qint64 elapsed = sinceLastMove_.elapsed();
    if (elapsed >= kMoveIntervalMs) {
        moveTimer_.stop();
        PostPendingMove();
    } else if (!moveTimer_.isActive()) {
        moveTimer_.start(static_cast<int>(kMoveIntervalMs - elapsed));
    }
}

void PictureWidget::PostPendingMove() {
    if (!movePending_) return;
    movePending_ = false;
    sinceLastMove_.restart();
    if (!isEnabled()) return;
    PostEvent(panel_, control_, EVENT_MOUSE_POINTER_MOVE, pendingMove_.y(), pendingMove_.x());
}

void PictureWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint p = PanelPosition(event->position());
    PostEvent(panel_, control_, EVENT_LEFT_CLICK, p.y(), p.x());
}

void PictureWidget::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint p = PanelPosition(event->position());
    PostEvent(panel_, control_, EVENT_LEFT_DOUBLE_CLICK, p.y(), p.x());
}

}  // namespace ui::qt
