// The widgets of the controls. One ControlView per control: it creates the
// widget (and its label) on the panel's canvas, shows each new state of the
// control, and turns the user's input into model changes and queued events.
// Views never call a callback; they set the value, then post the event.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "platform/ui/frontend.h"

class QLabel;

namespace ui::qt {

// The widget of a tab page (a child panel), owned by the front-end.
using PageLookup = std::function<QWidget*(int pagePanel)>;

class ControlView {
  public:
    virtual ~ControlView();
    ControlView(const ControlView&) = delete;
    ControlView& operator=(const ControlView&) = delete;

    // Shows `state`: geometry, label, dimmed, visible, then the type's value.
    void Apply(const ControlState& state);
    // The panel's window is `dx` wider and `dy` higher than the panel's
    // size: the control moves or grows by its anchors.
    void SetStretch(int dx, int dy);
    // The control's main widget (nullptr for timers).
    QWidget* Widget() const { return widget_; }

  protected:
    // Where the label goes: none (the widget shows it), above the field (or
    // to its left when there is no room above), or after a lamp's indicator.
    enum class LabelPlace { None, Above, AfterIndicator };

    ControlView(int panel, int control, QWidget* canvas);
    // Called once by the subclass's constructor.
    void SetWidget(QWidget* widget, LabelPlace labelPlace);
    // The type's part of Apply. `previous` is the state shown before
    // (nullptr the first time).
    virtual void Show(const ControlState& state, const ControlState* previous) = 0;
    void PostCommit() const;

    const int panel_;
    const int control_;
    QWidget* const canvas_;

    // Where the control sits on the canvas now (its anchors applied).
    QRect Placed(const ControlState& state) const;

  private:
    void PlaceWidget(const ControlState& state);
    void PlaceLabel(const ControlState& state);

    int dx_ = 0, dy_ = 0;

    QPointer<QWidget> widget_;
    QPointer<QLabel> label_;
    LabelPlace labelPlace_ = LabelPlace::None;
    std::optional<ControlState> shown_;
};

// Creates the view of a control on `canvas` (the panel's drawing area) and
// shows `state` in it.
std::unique_ptr<ControlView> MakeControlView(int panel, const ControlState& state, QWidget* canvas,
                                             const PageLookup& pages);

}  // namespace ui::qt
