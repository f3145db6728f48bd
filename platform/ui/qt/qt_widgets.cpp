#include "platform/ui/qt/qt_widgets.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QToolButton>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace ui::qt {

double RoundStep(double range, int count) {
    const double raw = range / count;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / magnitude;
    return magnitude * (f <= 1 ? 1 : f <= 2 ? 2 : f <= 2.5 ? 2.5 : f <= 5 ? 5 : 10);
}

// ---- PanelWindow ----------------------------------------------------------------

PanelWindow::PanelWindow(int panel) : QWidget(nullptr), panel_(panel) {}

void PanelWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    PostEvent(panel_, 0, EVENT_CLOSE);
}

void PanelWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (onResize_) onResize_();
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

namespace {

constexpr int kToolsHeight = 28;
constexpr int kColourBarWidth = 70;
constexpr double kMinZoom = 1.0 / 16, kMaxZoom = 32;
constexpr double kWheelStep = 1.25;
constexpr int kDragThreshold = 4;  // pixels a press may move and still be a click

QString ZoomText(double scale) {
    return scale >= 1 ? QStringLiteral("%1:1").arg(scale, 0, 'g', 3)
                      : QStringLiteral("1:%1").arg(1 / scale, 0, 'g', 3);
}

QString ValueText(double value) {
    return QLocale::c().toString(value, 'g', 6);
}

}  // namespace

PictureWidget::PictureWidget(int panel, int control, QWidget* parent)
    : QWidget(parent), panel_(panel), control_(control) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    moveTimer_.setSingleShot(true);
    QObject::connect(&moveTimer_, &QTimer::timeout, this, [this] { PostPendingMove(); });
    sinceLastMove_.start();

    tools_ = new QWidget(this);
    auto* layout = new QHBoxLayout(tools_);
    layout->setContentsMargins(2, 1, 2, 1);
    layout->setSpacing(3);
    auto addZoom = [&](const QString& text, double zoom, const QString& tip) {
        auto* button = new QToolButton(tools_);
        button->setText(text);
        button->setToolTip(tip);
        button->setAutoRaise(true);
        QObject::connect(button, &QToolButton::clicked, this,
                         [this, zoom] { ZoomAroundCentre(zoom); });
        layout->addWidget(button);
    };
    addZoom(QStringLiteral("Fit"), 0,
            QStringLiteral("Fit the frame to the view (double click zooms in)"));
    for (double step : kZoomSteps)
        addZoom(ZoomText(step), step,
                QStringLiteral("%1 screen pixel(s) per image pixel").arg(step));
    paletteBox_ = new QComboBox(tools_);
    paletteBox_->addItems(
        {QStringLiteral("Grey"), QStringLiteral("Inverted grey"), QStringLiteral("Perceptual")});
    paletteBox_->setToolTip(QStringLiteral("Colours of the picture"));
    QObject::connect(paletteBox_, &QComboBox::activated, this,
                     [this](int index) { ChoosePalette(index); });
    layout->addWidget(paletteBox_);
    zoomText_ = new QLabel(tools_);
    zoomText_->setToolTip(QStringLiteral("Wheel: zoom around the pointer; drag: move the picture"));
    layout->addWidget(zoomText_, 1);
    UpdateTools();
}

void PictureWidget::SetPicture(std::shared_ptr<const PictureImage> picture) {
    if (picture == picture_) return;
    const QSize before = ImageSize();
    picture_ = std::move(picture);
    ++generation_;
    image_ = QImage();
    if (picture_ && picture_->width > 0 && picture_->height > 0 &&
        picture_->pixels.size() >= static_cast<size_t>(picture_->width) * picture_->height) {
        // The image points into the shared pixels: no copy per frame.
        image_ = QImage(picture_->pixels.data(), picture_->width, picture_->height, picture_->width,
                        QImage::Format_Indexed8);
        ApplyColours();
    }
    // Another shape (a slice after a frame): show it whole around its middle.
    if (ImageSize() != before)
        centre_ = QPointF(ImageSize().width() / 2.0, ImageSize().height() / 2.0);
    UpdateTools();
    update();
}

void PictureWidget::SetView(double zoom, int palette, double scaleLow, double scaleHigh,
                            QPoint place) {
    place_ = place;
    if (zoom != zoom_) {
        zoom_ = zoom;
        UpdateTools();
        update();
    }
    if (palette != palette_) {
        palette_ = palette;
        ApplyColours();
        UpdateTools();
        update();
    }
    if (scaleLow != scaleLow_ || scaleHigh != scaleHigh_) {
        scaleLow_ = scaleLow;
        scaleHigh_ = scaleHigh;
        update(ColourBarArea());
    }
}

void PictureWidget::ApplyColours() {
    if (image_.isNull() || !picture_) return;
    const std::vector<int> shown = ShownPalette(*picture_, palette_);
    QList<QRgb> colors(256);
    for (int i = 0; i < 256; ++i) colors[i] = static_cast<QRgb>(shown[size_t(i)]) | 0xFF000000u;
    image_.setColorTable(colors);
}

bool PictureWidget::HasTools() const {
    return width() >= 300 && height() >= 200;
}

QRect PictureWidget::ImageArea() const {
    if (!HasTools()) return rect();
    return QRect(0, kToolsHeight, std::max(1, width() - kColourBarWidth),
                 std::max(1, height() - kToolsHeight));
}

QRect PictureWidget::ColourBarArea() const {
    if (!HasTools()) return QRect();
    return QRect(width() - kColourBarWidth, kToolsHeight, kColourBarWidth,
                 std::max(1, height() - kToolsHeight));
}

QSize PictureWidget::ImageSize() const {
    return image_.isNull() ? QSize() : image_.size();
}

double PictureWidget::FitScale() const {
    const QSize image = ImageSize();
    if (image.isEmpty()) return 1;
    const QRect area = ImageArea();
    return std::min(double(area.width()) / image.width(), double(area.height()) / image.height());
}

double PictureWidget::Scale() const {
    return zoom_ > 0 ? zoom_ : FitScale();
}

QPointF PictureWidget::Origin() const {
    const QRect area = ImageArea();
    const QSize image = ImageSize();
    const double scale = Scale();
    const QPointF middle(area.left() + area.width() / 2.0, area.top() + area.height() / 2.0);
    if (image.isEmpty()) return area.topLeft();
    // Along each axis: a picture smaller than the view sits in its middle; a
    // larger one is moved by the pan, but never so far that the view shows
    // ground beside it.
    auto along = [&](double middleAt, double areaStart, double areaSize, double imageSize,
                     double centre) {
        const double drawn = imageSize * scale;
        if (zoom_ == 0 || drawn <= areaSize) return std::floor(areaStart + (areaSize - drawn) / 2);
        const double origin = middleAt - centre * scale;
        return std::floor(std::clamp(origin, areaStart + areaSize - drawn, areaStart));
    };
    return QPointF(along(middle.x(), area.left(), area.width(), image.width(), centre_.x()),
                   along(middle.y(), area.top(), area.height(), image.height(), centre_.y()));
}

std::optional<QPoint> PictureWidget::ImagePixel(const QPointF& position) const {
    const QSize image = ImageSize();
    if (image.isEmpty() || !ImageArea().contains(position.toPoint())) return std::nullopt;
    const QPointF at = (position - Origin()) / Scale();
    const int x = static_cast<int>(std::floor(at.x())), y = static_cast<int>(std::floor(at.y()));
    if (x < 0 || y < 0 || x >= image.width() || y >= image.height()) return std::nullopt;
    return QPoint(x, y);
}

QPoint PictureWidget::PanelPosition(const QPoint& pixel) const {
    return place_ + pixel;
}

void PictureWidget::ZoomTo(double zoom, const QPointF& anchor) {
    if (zoom > 0) zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
    const double before = Scale();
    const QPointF imagePoint = (anchor - Origin()) / before;
    zoom_ = zoom;
    if (zoom_ > 0) {
        // The image point under the anchor stays there.
        const QRect area = ImageArea();
        const QPointF middle(area.left() + area.width() / 2.0, area.top() + area.height() / 2.0);
        const QPointF origin = anchor - imagePoint * zoom_;
        centre_ = (middle - origin) / zoom_;
    }
    SetCtrlAttribute(panel_, control_, ATTR_PICTURE_ZOOM, zoom_);
    UpdateTools();
    update();
}

void PictureWidget::ZoomAroundCentre(double zoom) {
    const QRect area = ImageArea();
    ZoomTo(zoom, QPointF(area.left() + area.width() / 2.0, area.top() + area.height() / 2.0));
}

void PictureWidget::ChoosePalette(int palette) {
    palette_ = palette;
    SetCtrlAttribute(panel_, control_, ATTR_PICTURE_PALETTE, palette);
    ApplyColours();
    UpdateTools();
    update();
}

void PictureWidget::UpdateTools() {
    tools_->setVisible(HasTools());
    tools_->setGeometry(0, 0, width(), kToolsHeight);
    if (paletteBox_->currentIndex() != palette_) {
        const QSignalBlocker blocker(paletteBox_);
        paletteBox_->setCurrentIndex(palette_);
    }
    const QString scale = image_.isNull() ? QString() : ZoomText(Scale());
    zoomText_->setText(zoom_ == 0 ? QStringLiteral("fit  %1").arg(scale) : scale);
}

void PictureWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    UpdateTools();
}

void PictureWidget::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().color(QPalette::Window));
    const QRect area = ImageArea();
    painter.fillRect(area, Qt::black);
    if (!image_.isNull()) {
        painter.save();
        painter.setClipRect(area);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);  // pixels stay pixels
        const double scale = Scale();
        painter.drawImage(QRectF(Origin(), QSizeF(image_.width() * scale, image_.height() * scale)),
                          image_);
        painter.restore();
    }
    if (HasTools()) PaintColourBar(painter);
    if (generation_ != paintedGeneration_) {
        paintedGeneration_ = generation_;
        if (picture_) picturesPainted_.fetch_add(1);
    }
}

void PictureWidget::PaintColourBar(QPainter& painter) {
    const QRect area = ColourBarArea();
    const QFontMetrics metrics = painter.fontMetrics();
    const int margin = metrics.height() / 2 + 2;
    const QRect bar(area.left() + 6, area.top() + margin, 14,
                    std::max(2, area.height() - 2 * margin));
    const std::vector<int> colours =
        picture_ ? ShownPalette(*picture_, palette_) : ShownPalette(PictureImage{}, palette_);
    // Byte 255 at the top, byte 0 at the bottom.
    for (int y = 0; y < bar.height(); ++y) {
        const int index =
            255 - static_cast<int>(std::lround(255.0 * y / std::max(1, bar.height() - 1)));
        painter.setPen(QColor::fromRgb(static_cast<QRgb>(colours[size_t(index)]) | 0xFF000000u));
        painter.drawLine(bar.left(), bar.top() + y, bar.right(), bar.top() + y);
    }
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawRect(bar.adjusted(0, 0, -1, -1));
    if (scaleHigh_ <= scaleLow_) return;  // no data behind the bytes: no values to name
    const int labelLeft = bar.right() + 4;
    const int labelWidth = area.right() - labelLeft;
    auto label = [&](double value) {
        const double fraction = (value - scaleLow_) / (scaleHigh_ - scaleLow_);
        const int y = bar.bottom() - static_cast<int>(std::lround(fraction * (bar.height() - 1)));
        painter.drawLine(bar.right() + 1, y, bar.right() + 3, y);
        painter.drawText(QRect(labelLeft, y - metrics.height() / 2, labelWidth, metrics.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, ValueText(value));
    };
    // Round values between the limits, as far apart as the bar's height allows.
    const int fit = std::max(1, bar.height() / (2 * metrics.height()));
    const double step = RoundStep(scaleHigh_ - scaleLow_, std::min(5, fit));
    for (double value = std::ceil(scaleLow_ / step) * step; value <= scaleHigh_ + step * 1e-9;
         value += step)
        label(value);
}

void PictureWidget::mouseMoveEvent(QMouseEvent* event) {
    if (pressed_) {
        if (!dragged_ && (event->position() - pressAt_).manhattanLength() > kDragThreshold)
            dragged_ = true;
        if (dragged_ && zoom_ > 0) {
            centre_ -= (event->position() - dragFrom_) / Scale();
            update();
        }
        dragFrom_ = event->position();
    }
    PointerAt(event->position());
}

void PictureWidget::PointerAt(const QPointF& position) {
    const std::optional<QPoint> pixel = ImagePixel(position);
    if (!pixel) {
        PointerLeft();
        return;
    }
    pointerOnImage_ = true;
    pendingMove_ = PanelPosition(*pixel);
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

void PictureWidget::PointerLeft() {
    movePending_ = false;
    moveTimer_.stop();
    if (!pointerOnImage_) return;
    pointerOnImage_ = false;
    if (isEnabled()) PostEvent(panel_, control_, EVENT_MOUSE_POINTER_LEAVE);
}

void PictureWidget::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    PointerLeft();
}

void PictureWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    pressed_ = true;
    dragged_ = false;
    pressAt_ = dragFrom_ = event->position();
}

void PictureWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressed_) return;
    pressed_ = false;
    if (dragged_) return;
    if (const std::optional<QPoint> pixel = ImagePixel(pressAt_)) {
        const QPoint p = PanelPosition(*pixel);
        PostEvent(panel_, control_, EVENT_LEFT_CLICK, p.y(), p.x());
    }
}

void PictureWidget::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    pressed_ = false;
    if (const std::optional<QPoint> pixel = ImagePixel(event->position())) {
        const QPoint p = PanelPosition(*pixel);
        PostEvent(panel_, control_, EVENT_LEFT_DOUBLE_CLICK, p.y(), p.x());
    }
    // The next zoom step around the pointer; past the last one, fit again.
    const double scale = Scale();
    double next = 0;
    for (double step : kZoomSteps)
        if (step > scale * 1.01) {
            next = step;
            break;
        }
    ZoomTo(next, event->position());
}

void PictureWidget::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0 || image_.isNull()) return;
    ZoomTo(Scale() * std::pow(kWheelStep, notches), event->position());
    event->accept();
}

void PictureWidget::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    const QPoint at = event->pos();
    menu.addAction(QStringLiteral("Fit to view"), this, [this, at] { ZoomTo(0, at); })
        ->setCheckable(true);
    menu.actions().back()->setChecked(zoom_ == 0);
    for (double step : kZoomSteps) {
        QAction* action =
            menu.addAction(ZoomText(step), this, [this, at, step] { ZoomTo(step, at); });
        action->setCheckable(true);
        action->setChecked(zoom_ == step);
    }
    menu.addSeparator();
    const QStringList names = {QStringLiteral("Grey"), QStringLiteral("Inverted grey"),
                               QStringLiteral("Perceptual")};
    for (int i = 0; i < names.size(); ++i) {
        QAction* action = menu.addAction(names[i], this, [this, i] { ChoosePalette(i); });
        action->setCheckable(true);
        action->setChecked(palette_ == i);
    }
    menu.exec(event->globalPos());
}

}  // namespace ui::qt
