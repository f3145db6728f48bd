// Small widgets of the Qt front-end that Qt does not have ready-made: the
// panel window, the lamp and the 8-bit picture.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <memory>

#include "platform/ui/ui.h"

namespace ui::qt {

// Window of a panel. The close box does not close it: the program decides,
// so the close is handed on as EVENT_CLOSE.
class PanelWindow : public QWidget {
  public:
    explicit PanelWindow(int panel);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    int panel_;
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

// Shows an 8-bit picture pixel for pixel from the top-left corner on a black
// ground, and hands the mouse on to the program in panel coordinates (the
// widget's position on the panel plus the pointer's position in it).
class PictureWidget : public QWidget {
  public:
    PictureWidget(int panel, int control, QWidget* parent);
    void SetPicture(std::shared_ptr<const PictureImage> picture);

    // How many different pictures have been painted so far (a picture
    // painted twice counts once). Benchmarks and tests; any thread may read.
    int PicturesPainted() const { return picturesPainted_.load(); }

    // Pointer moves reach the program at most this often.
    static constexpr int kMoveIntervalMs = 20;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    QPoint PanelPosition(const QPointF& local) const;
    void PostPendingMove();

    int panel_;
    int control_;
    std::shared_ptr<const PictureImage> picture_;  // keeps the pixels `image_` points into
    QImage image_;
    int generation_ = 0;  // counts SetPicture calls that changed the picture
    int paintedGeneration_ = 0;
    std::atomic<int> picturesPainted_{0};
    QElapsedTimer sinceLastMove_;
    QTimer moveTimer_;
    QPoint pendingMove_;
    bool movePending_ = false;
};

}  // namespace ui::qt
