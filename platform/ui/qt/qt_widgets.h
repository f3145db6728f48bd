// Small widgets of the Qt front-end that Qt does not have ready-made: the
// panel window, the lamp and the 8-bit picture view.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "platform/ui/ui.h"

class QComboBox;
class QLabel;

namespace ui::qt {

// A round step for about `count` steps over `range` (> 0): 1, 2, 2.5 or 5
// times a power of ten. Axis ticks and the colour bar's labels use it.
double RoundStep(double range, int count);

// Window of a panel. The close box does not close it: the program decides,
// so the close is handed on as EVENT_CLOSE.
class PanelWindow : public QWidget {
  public:
    explicit PanelWindow(int panel);
    // Called after the window changed its size (a person dragged its edge,
    // maximised it, or the program resized the panel).
    void OnResize(std::function<void()> laidOut) { onResize_ = std::move(laidOut); }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    int panel_;
    std::function<void()> onResize_;
};

// A round LED at the left of the widget, as high as the widget: `color`
// (0xRRGGBB) when on, dark grey when off. The label goes beside it.
class LampWidget : public QWidget {
  public:
    explicit LampWidget(QWidget* parent);
    void SetState(bool on, int color);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool on_ = false;
    int color_ = VAL_GREEN;
};

// The picture control: an 8-bit picture fitted into the view by default
// (keeping the pixel aspect), or zoomed by a fixed step (1:1, 2:1, 4:1), the
// wheel (around the pointer) or a double click, and panned by dragging. A
// colour bar at the right shows the palette with the data values its ends
// stand for, and the palette is chosen among the bitmap's own (grey), the
// inverted one and a perceptual map. A toolbar over the picture offers
// these when the control is large enough; the right mouse button offers
// them always.
//
// The program sees the mouse in image coordinates: an event carries the
// control's place on the panel plus the image pixel under the pointer, so
// that a callback subtracting the control's left and top gets the pixel
// whatever the zoom. Leaving the image posts EVENT_MOUSE_POINTER_LEAVE.
class PictureWidget : public QWidget {
  public:
    PictureWidget(int panel, int control, QWidget* parent);
    void SetPicture(std::shared_ptr<const PictureImage> picture);
    // The view the program's model asks for: zoom (0 fits), palette choice,
    // the data values of bytes 0 and 255, and the control's place on the panel.
    void SetView(double zoom, int palette, double scaleLow, double scaleHigh, QPoint place);

    // How many different pictures have been painted so far (a picture
    // painted twice counts once). Benchmarks and tests; any thread may read.
    int PicturesPainted() const { return picturesPainted_.load(); }
    // Screen pixels per image pixel as drawn now, and where image pixel
    // (0, 0) has its top-left corner in the widget (tests).
    double Scale() const;
    QPointF Origin() const;
    // The area the picture is drawn in (without toolbar and colour bar).
    QRect ImageArea() const;
    // Width and height of the picture shown (empty: none).
    QSize ImageSize() const;

    // Pointer moves reach the program at most this often.
    static constexpr int kMoveIntervalMs = 20;
    // Zoom steps of the toolbar and the double click.
    static constexpr double kZoomSteps[] = {1.0, 2.0, 4.0};

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    bool HasTools() const;
    QRect ColourBarArea() const;
    double FitScale() const;
    // The image pixel under a widget position, if the image is there.
    std::optional<QPoint> ImagePixel(const QPointF& position) const;
    QPoint PanelPosition(const QPoint& pixel) const;
    // Zooms to `zoom` (0 fits) keeping the image point under `anchor`
    // (widget coordinates) where it is; tells the program's model.
    void ZoomTo(double zoom, const QPointF& anchor);
    void ZoomAroundCentre(double zoom);
    void ChoosePalette(int palette);
    void ApplyColours();
    void UpdateTools();
    void PointerAt(const QPointF& position);
    void PostPendingMove();
    void PointerLeft();
    void PaintColourBar(QPainter& painter);

    int panel_;
    int control_;
    std::shared_ptr<const PictureImage> picture_;  // keeps the pixels `image_` points into
    QImage image_;
    int generation_ = 0;  // counts SetPicture calls that changed the picture
    int paintedGeneration_ = 0;
    std::atomic<int> picturesPainted_{0};

    double zoom_ = 0;  // 0: fit
    QPointF centre_;   // image point at the centre of the view when zoomed
    int palette_ = VAL_PALETTE_BITMAP;
    double scaleLow_ = 0, scaleHigh_ = 0;
    QPoint place_;  // the control's left and top on the panel

    QElapsedTimer sinceLastMove_;
    QTimer moveTimer_;
    QPoint pendingMove_;
    bool movePending_ = false;
    bool pointerOnImage_ = false;
    // A left press becomes a click on release, unless the pointer was dragged.
    bool pressed_ = false;
    bool dragged_ = false;
    QPointF pressAt_, dragFrom_;

    QWidget* tools_ = nullptr;
    QComboBox* paletteBox_ = nullptr;
    QLabel* zoomText_ = nullptr;
};

}  // namespace ui::qt
