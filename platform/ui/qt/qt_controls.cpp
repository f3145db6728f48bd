#include "platform/ui/qt/qt_controls.h"

#include <QAreaSeries>
#include <QButtonGroup>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QListWidget>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScatterSeries>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

#include "platform/ui/qt/qt_widgets.h"

namespace ui::qt {

namespace {

QString ToQString(const std::string& text) {
    return QString::fromStdString(text);
}

// Buttons, radio buttons and tabs treat '&' as a mnemonic marker.
QString ButtonText(const std::string& text) {
    return ToQString(text).replace(QLatin1Char('&'), QLatin1String("&&"));
}

double AsDouble(const Value& value) {
    if (const int* i = std::get_if<int>(&value)) return *i;
    if (const double* d = std::get_if<double>(&value)) return *d;
    bool ok = false;
    const double d = QLocale::c().toDouble(ToQString(std::get<std::string>(value)).trimmed(), &ok);
    return ok ? d : 0.0;
}

int AsInt(const Value& value) {
    if (const int* i = std::get_if<int>(&value)) return *i;
    const double d = AsDouble(value);
    if (!std::isfinite(d)) return 0;
    return static_cast<int>(
        std::clamp(std::lround(d), static_cast<long>(INT_MIN), static_cast<long>(INT_MAX)));
}

std::string AsText(const Value& value) {
    if (const std::string* s = std::get_if<std::string>(&value)) return *s;
    if (const int* i = std::get_if<int>(&value)) return std::to_string(*i);
    return QLocale::c().toString(std::get<double>(value), 'g', 12).toStdString();
}

QString FormatCell(const Value& value, const TableColumn& column) {
    switch (column.type) {
        case ValueType::Int:
            return QString::number(AsInt(value));
        case ValueType::Double:
            return column.precision >= 0
                       ? QLocale::c().toString(AsDouble(value), 'f', column.precision)
                       : QLocale::c().toString(AsDouble(value), 'g', 12);
        case ValueType::Text:
            return ToQString(AsText(value));
    }
    return {};
}

// Reads what a person typed into a cell: surrounding blanks, a decimal comma
// and trailing units ("6302.5 A") are forgiven. Nothing when no number is there.
std::optional<Value> ParseCell(const QString& text, ValueType type) {
    if (type == ValueType::Text) return Value(text.toStdString());
    QString t = text.trimmed();
    t.replace(QLatin1Char(','), QLatin1Char('.'));
    if (t.isEmpty()) return type == ValueType::Int ? Value(0) : Value(0.0);
    static const QRegularExpression number(
        QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?"));
    const QRegularExpressionMatch match = number.match(t);
    if (!match.hasMatch()) return std::nullopt;
    bool ok = false;
    const double d = QLocale::c().toDouble(match.captured(0), &ok);
    if (!ok || !std::isfinite(d)) return std::nullopt;
    if (type == ValueType::Int) {
        if (d < INT_MIN || d > INT_MAX) return std::nullopt;
        return Value(static_cast<int>(std::lround(d)));
    }
    return Value(d);
}

bool SameItemLabels(const std::vector<ListItem>& a, const std::vector<ListItem>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const ListItem& x, const ListItem& y) { return x.label == y.label; });
}

bool SamePlots(const std::vector<Plot>& a, const std::vector<Plot>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const Plot& p, const Plot& q) {
        return p.handle == q.handle && p.style == q.style && p.color == q.color && p.x == q.x &&
               p.y == q.y;
    });
}

QColor PlotColor(int rgb) {
    return QColor::fromRgb(static_cast<QRgb>(rgb) | 0xFF000000u);
}

// Widgets showing numbers use the C locale: a decimal point, never a comma.
void UseCLocale(QWidget* widget) {
    widget->setLocale(QLocale::c());
}

// ---- Command ----------------------------------------------------------------------

class CommandView : public ControlView {
  public:
    CommandView(int panel, const ControlState& state, QWidget* canvas)
        : ControlView(panel, state.id, canvas), button_(new QPushButton(canvas)) {
        SetWidget(button_, LabelPlace::None);
        QObject::connect(button_, &QPushButton::clicked, button_, [this] { PostCommit(); });
    }

  protected:
    void Show(const ControlState& state, const ControlState*) override {
        button_->setText(ButtonText(state.label));
        if (!state.shortcut.empty()) {
            const QKeySequence keys(ToQString(state.shortcut));
            button_->setShortcut(keys);
            // The tooltip names the keys: nobody guesses a shortcut.
            const QString keysText = keys.toString(QKeySequence::NativeText);
            button_->setToolTip(state.tooltip.empty()
                                    ? keysText
                                    : ToQString(state.tooltip) + QStringLiteral(" (") + keysText +
                                          QLatin1Char(')'));
        }
    }

  private:
    QPushButton* button_;
};

// ---- Toggle -----------------------------------------------------------------------

class ToggleView : public ControlView {
  public:
    ToggleView(int panel, const ControlState& state, QWidget* canvas)
        : ControlView(panel, state.id, canvas), button_(new QPushButton(canvas)) {
        button_->setCheckable(true);
        // With on/off texts the button shows the state; the label goes above it.
        SetWidget(button_, HasStateTexts(state) ? LabelPlace::Above : LabelPlace::None);
        QObject::connect(button_, &QPushButton::clicked, button_, [this](bool checked) {
            SetCtrlVal(panel_, control_, checked ? 1 : 0);
            PostCommit();
        });
    }

  protected:
    void Show(const ControlState& state, const ControlState*) override {
        const bool on = AsInt(state.value) != 0;
        button_->setChecked(on);
        button_->setText(HasStateTexts(state) ? ButtonText(on ? state.onText : state.offText)
                                              : ButtonText(state.label));
    }

  private:
    static bool HasStateTexts(const ControlState& s) {
        return !s.onText.empty() || !s.offText.empty();
    }
    QPushButton* button_;
};

// ---- Lamp -------------------------------------------------------------------------

class LampView : public ControlView {
  public:
    LampView(int panel, const ControlState& state, QWidget* canvas)
        : ControlView(panel, state.id, canvas), lamp_(new LampWidget(canvas)) {
        SetWidget(lamp_, LabelPlace::AfterIndicator);
    }

  protected:
    void Show(const ControlState& state, const ControlState*) override {
        lamp_->SetState(AsInt(state.value) != 0, state.onColor);
    }

  private:
    LampWidget* lamp_;
};

// ---- ProgressBar ------------------------------------------------------------------

// The bar shows the control's label as its text: what is done and how long
// it takes.
class ProgressBarView : public ControlView {
  public:
    ProgressBarView(int panel, const ControlState& state, QWidget* canvas)
        : ControlView(panel, state.id, canvas), bar_(new QProgressBar(canvas)) {
        bar_->setRange(0, kSteps);
        bar_->setTextVisible(true);
        bar_->setAlignment(Qt::AlignCenter);
        SetWidget(bar_, LabelPlace::None);
    }

  protected:
    void Show(const ControlState& state, const ControlState*) override {
        const double span = state.maxValue - state.minValue;
        const double fraction = span > 0 ? (AsDouble(state.value) - state.minValue) / span : 0.0;
        bar_->setValue(static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * kSteps)));
        // Qt reads "%p", "%v" and "%m" in the format; the program's texts hold none.
        bar_->setFormat(QString::fromStdString(state.label));
    }

  private:
    static constexpr int kSteps = 1000;
    QProgressBar* bar_;
};

// ---- Numeric ----------------------------------------------------------------------

class NumericView : public ControlView {
  public:
    NumericView(int panel, const ControlState& state, QWidget* canvas)
        : ControlView(panel, state.id, canvas), isInt_(state.valueType == ValueType::Int) {
        if (isInt_) {
            intBox_ = new QSpinBox(canvas);
            box_ = intBox_;
            QObject::connect(intBox_, &QSpinBox::valueChanged, box_, [this] { UserValue(); });
        } else {
            doubleBox_ = new QDoubleSpinBox(canvas);
            box_ = doubleBox_;
            QObject::connect(doubleBox_, &QDoubleSpinBox::valueChanged, box_,
                             [this] { UserValue(); });
        }
        UseCLocale(box_);
        // valueChanged then comes from the arrows and a finished edit only,
        // never from each key typed.
        box_->setKeyboardTracking(false);
        box_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        QObject::connect(box_, &QAbstractSpinBox::editingFinished, box_, [this] { UserValue(); });
        SetWidget(box_, LabelPlace::Above);
    }

  protected:
    void Show(const ControlState& state, const ControlState* previous) override {
        const QSignalBlocker blocker(box_);
        const bool ranged = state.minValue != state.maxValue;
        if (isInt_) {
            intBox_->setRange(ranged ? static_cast<int>(std::ceil(state.minValue)) : INT_MIN,
                              ranged ? static_cast<int>(std::floor(state.maxValue)) : INT_MAX);
        } else {
            doubleBox_->setDecimals(std::clamp(state.precision, 0, 15));
            doubleBox_->setRange(ranged ? state.minValue : -1e15, ranged ? state.maxValue : 1e15);
        }
        // A field being typed into keeps the typing unless the program
        // changed the value itself.
        const bool programChanged = !previous || previous->value != state.value;
        if (programChanged || !box_->hasFocus()) {
            if (isInt_) {
                intBox_->setValue(AsInt(state.value));
            } else {
                doubleBox_->setValue(AsDouble(state.value));
            }
        }
        model_ = isInt_ ? static_cast<double>(AsInt(state.value)) : AsDouble(state.value);
    }

  private:
    double Current() const { return isInt_ ? intBox_->value() : doubleBox_->value(); }

    void UserValue() {
        const double value = Current();
        if (value == model_) return;
        model_ = value;
        if (isInt_) {
            SetCtrlVal(panel_, control_, intBox_->value());
        } else {
            SetCtrlVal(panel_, control_, value);
        }
        PostCommit();
    }

    const bool isInt_;
    QAbstractSpinBox* box_ = nullptr;
    QSpinBox* intBox_ = nullptr;
    QDoubleSpinBox* doubleBox_ = nullptr;
    double model_ = 0;  // the value the program knows
};

// ---- Slider -----------------------------------------------------------------------

class SliderView : public ControlView {
  public:
    SliderView(int panel, const ControlState& state, QWidget* canvas)
        : ControlView(panel, state.id, canvas),
          isInt_(state.valueType == ValueType::Int),
          frame_(new QWidget(canvas)),
          slider_(new QSlider(state.width >= state.height ? Qt::Horizontal : Qt::Vertical)),
          readout_(new QLabel) {
        auto* layout = slider_->orientation() == Qt::Horizontal
                           ? static_cast<QBoxLayout*>(new QHBoxLayout(frame_))
                           : static_cast<QBoxLayout*>(new QVBoxLayout(frame_));
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(6);
        layout->addWidget(slider_, 1);
        layout->addWidget(readout_);
        readout_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        readout_->setMinimumWidth(
            readout_->fontMetrics().horizontalAdvance(QStringLiteral("-0000.00")));
        QObject::connect(slider_, &QSlider::valueChanged, slider_, [this] {
            readout_->setText(Format(ValueAt(slider_->value())));
            if (!slider_->isSliderDown()) UserValue();
        });
        QObject::connect(slider_, &QSlider::sliderReleased, slider_, [this] { UserValue(); });
        SetWidget(frame_, LabelPlace::Above);
    }

  protected:
    void Show(const ControlState& state, const ControlState*) override {
        const QSignalBlocker blocker(slider_);
        min_ = state.minValue;
        max_ = state.maxValue;
        if (min_ == max_) {  // no range given: a percentage
            min_ = 0;
            max_ = 100;
        }
        precision_ = isInt_ ? 0 : std::clamp(state.precision, 0, 6);
        steps_ = isInt_ ? std::max(1.0, std::floor(max_ - min_))
                        : std::clamp(std::round((max_ - min_) * std::pow(10.0, precision_)), 1.0,
                                     100000.0);
        slider_->setRange(0, static_cast<int>(steps_));
        const double value = isInt_ ? AsInt(state.value) : AsDouble(state.value);
        slider_->setValue(static_cast<int>(std::lround((value - min_) / (max_ - min_) * steps_)));
        readout_->setText(Format(value));
        model_ = value;
    }

  private:
    double ValueAt(int position) const {
        const double v = min_ + position * (max_ - min_) / steps_;
        return isInt_ ? std::round(v) : v;
    }
    QString Format(double value) const { return QLocale::c().toString(value, 'f', precision_); }

    void UserValue() {
        const double value = ValueAt(slider_->value());
        if (value == model_) return;
        model_ = value;
        if (isInt_) {
            SetCtrlVal(panel_, control_, static_cast<int>(value));
        } else {
            SetCtrlVal(panel_, control_, value);
        }
        PostCommit();
    }

    const bool isInt_;
    QWidget* frame_;
    QSlider* slider_;
    QLabel* readout_;
    double min_ = 0, max_ = 100, steps_ = 100, model_ = 0;
    int precision_ = 0;
};

// ---- String -----------------------------------------------------------------------

class StringView : public ControlView {
  public:
    StringView(int panel, const ControlState& state, QWidget* canvas)
        : ControlView(panel, state.id, canvas), edit_(new QLineEdit(canvas)) {
        SetWidget(edit_, LabelPlace::Above);
        QObject::connect(edit_, &QLineEdit::returnPressed, edit_, [this] {
            // The program sees the text first, then the key; the commit
            // follows from editingFinished if the text changed.
            SetCtrlVal(panel_, control_, edit_->text().toStdString());
            PostEvent(panel_, control_, EVENT_KEYPRESS, VAL_ENTER_VKEY);
        });
        QObject::connect(edit_, &QLineEdit::editingFinished, edit_, [this] {
            const std::string text = edit_->text().toStdString();
            if (text == model_) return;
            model_ = text;
            SetCtrlVal(panel_, control_, text);
            PostCommit();
        });
    }

  protected:
    void Show(const ControlState& state, const ControlState* previous) override {
        const std::string text = AsText(state.value);
        const bool programChanged = !previous || previous->value != state.value;
        if ((programChanged || !edit_->hasFocus()) && edit_->text().toStdString() != text) {
            const QSignalBlocker blocker(edit_);
            edit_->setText(ToQString(text));
        }
        model_ = text;
    }

  private:
    QLineEdit* edit_;
    std::string model_;  // the text the program knows
};

// ---- TextBox ----------------------------------------------------------------------

class TextBoxView : public ControlView {
  public:
    TextBoxView(int panel, const ControlState& state, QWidget* canvas)
        : ControlView(panel, state.id, canvas), edit_(new QPlainTextEdit(canvas)) {
        edit_->setReadOnly(true);
        edit_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        edit_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        SetWidget(edit_, LabelPlace::Above);
    }

  protected:
    void Show(const ControlState& state, const ControlState*) override {
        const std::string text = AsText(state.value);
        if (text == shown_) return;
        QTextCursor cursor(edit_->document());
        if (text.size() > shown_.size() && text.compare(0, shown_.size(), shown_) == 0) {
            // A status box grows line by line: append only what is new.
            cursor.movePosition(QTextCursor::End);
            Insert(cursor, text, shown_.size(), state.warnings);
        } else {
            edit_->clear();
            Insert(cursor, text, 0, state.warnings);
        }
        shown_ = text;
        // The newest line is what the observer needs: keep the end in view.
        // (The scroll bar's maximum lags the document's lazy layout; the
        // cursor does not.)
        edit_->moveCursor(QTextCursor::End);
        edit_->ensureCursorVisible();
    }

  private:
    static QString Display(const std::string& text) {
        return ToQString(text).remove(QLatin1Char('\r'));
    }
    // Inserts text[from..] at the cursor, the warning parts in the warning
    // colour and the rest plain.
    static void Insert(QTextCursor& cursor, const std::string& text, size_t from,
                       const std::vector<TextMark>& warnings) {
        QTextCharFormat plain;
        QTextCharFormat warning;
        warning.setForeground(QColor(0xB0, 0x00, 0x00));
        warning.setBackground(QColor(0xFF, 0xF0, 0xC0));
        warning.setFontWeight(QFont::Bold);
        size_t at = from;
        for (const TextMark& m : warnings) {
            if (m.end <= at) continue;
            const size_t begin = std::max(m.begin, at);
            if (begin > at) cursor.insertText(Display(text.substr(at, begin - at)), plain);
            cursor.insertText(Display(text.substr(begin, m.end - begin)), warning);
            at = m.end;
        }
        if (at < text.size()) cursor.insertText(Display(text.substr(at)), plain);
    }
    QPlainTextEdit* edit_;
    std::string shown_;
};

// ---- TextMessage ------------------------------------------------------------------

class TextMessageView : public ControlView {
  public:
    TextMessageView(int panel, const ControlState& state, QWidget* canvas)
        : ControlView(panel, state.id, canvas), label_(new QLabel(canvas)) {
        label_->setTextFormat(Qt::PlainText);
        label_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label_->setWordWrap(true);
        SetWidget(label_, LabelPlace::None);
    }

  protected:
    void Show(const ControlState& state, const ControlState*) override {
        const std::string text = AsText(state.value);
        label_->setText(ToQString(text.empty() ? state.label : text));
    }

  private:
    QLabel* label_;
};

// ---- Ring -------------------------------------------------------------------------

class RingView : public ControlView {
  public:
    RingView(int panel, const ControlState& state, QWidget* canvas)
        : ControlView(panel, state.id, canvas), combo_(new QComboBox(canvas)) {
        SetWidget(combo_, LabelPlace::Above);
        QObject::connect(combo_, &QComboBox::activated, combo_, [this](int index) {
            SetCtrlIndex(panel_, control_, index);
            PostCommit();
        });
    }

  protected:
    void Show(const ControlState& state, const ControlState* previous) override {
        const QSignalBlocker blocker(combo_);
        if (!previous || !SameItemLabels(previous->items, state.items)) {
            combo_->clear();
            for (const ListItem& item : state.items) combo_->addItem(ToQString(item.label));
        }
        combo_->setCurrentIndex(state.selected);
    }

  private:
    QComboBox* combo_;
};

// ---- ListBox ----------------------------------------------------------------------

class ListBoxView : public ControlView {
  public:
    ListBoxView(int panel, const ControlState& state, QWidget* canvas)
        : ControlView(panel, state.id, canvas), list_(new QListWidget(canvas)) {
        SetWidget(list_, LabelPlace::Above);
        QObject::connect(list_, &QListWidget::currentRowChanged, list_, [this](int row) {
            if (row < 0) return;
            SetCtrlIndex(panel_, control_, row);
            PostCommit();
        });
    }

  protected:
    void Show(const ControlState& state, const ControlState* previous) override {
        const QSignalBlocker blocker(list_);
        if (!previous || !SameItemLabels(previous->items, state.items)) {
            list_->clear();
            for (const ListItem& item : state.items) list_->addItem(ToQString(item.label));
        }
        list_->setCurrentRow(state.selected);
    }

  private:
    QListWidget* list_;
};

// ---- RadioButton ------------------------------------------------------------------

class RadioButtonView : public ControlView {
  public:
    RadioButtonView(int panel, const ControlState& state, QWidget* canvas)
        : ControlView(panel, state.id, canvas), button_(new QRadioButton(canvas)) {
        button_->setAutoExclusive(false);
        SetWidget(button_, LabelPlace::None);
        QObject::connect(button_, &QRadioButton::clicked, button_, [this](bool checked) {
            SetCtrlVal(panel_, control_, checked ? 1 : 0);
            PostCommit();
        });
    }

  protected:
    void Show(const ControlState& state, const ControlState*) override {
        button_->setText(ButtonText(state.label));
        button_->setChecked(AsInt(state.value) != 0);
    }

  private:
    QRadioButton* button_;
};

// ---- RadioGroup, Tree -------------------------------------------------------------

class RadioGroupView : public ControlView {
  public:
    RadioGroupView(int panel, const ControlState& state, QWidget* canvas)
        : ControlView(panel, state.id, canvas),
          frame_(new QFrame(canvas)),
          group_(new QButtonGroup(frame_)) {
        frame_->setFrameShape(QFrame::StyledPanel);
        group_->setExclusive(true);
        SetWidget(frame_, LabelPlace::Above);
        QObject::connect(group_, &QButtonGroup::idClicked, frame_, [this](int index) {
            MarkOption(panel_, control_, index);
            PostCommit();
        });
    }

  protected:
    void Show(const ControlState& state, const ControlState* previous) override {
        if (!previous || !SameItemLabels(previous->items, state.items) ||
            previous->height != state.height)
            Rebuild(state.items, state.height);
        if (QAbstractButton* button = group_->button(state.selected)) {
            button->setChecked(true);
        } else if (QAbstractButton* checked = group_->checkedButton()) {
            group_->setExclusive(false);  // an exclusive group cannot uncheck its last button
            checked->setChecked(false);
            group_->setExclusive(true);
        }
    }

  private:
    // Options run down the control, and on in further columns when the
    // control is too low for all of them (a wide, flat group).
    void Rebuild(const std::vector<ListItem>& items, int height) {
        for (QAbstractButton* button : group_->buttons()) {
            group_->removeButton(button);
            delete button;
        }
        delete frame_->layout();
        auto* layout = new QGridLayout(frame_);
        layout->setContentsMargins(6, 1, 6, 1);
        layout->setHorizontalSpacing(12);
        layout->setVerticalSpacing(0);
        const int rowHeight = QRadioButton(QStringLiteral("X")).sizeHint().height();
        const int rows = std::max(1, (height - 2) / std::max(1, rowHeight));
        for (size_t i = 0; i < items.size(); ++i) {
            auto* button = new QRadioButton(ButtonText(items[i].label), frame_);
            group_->addButton(button, static_cast<int>(i));
            layout->addWidget(button, static_cast<int>(i) % rows, static_cast<int>(i) / rows);
            button->show();
        }
        layout->setRowStretch(rows, 1);
    }

    QFrame* frame_;
    QButtonGroup* group_;
};

// ---- Table ------------------------------------------------------------------------

// Tells the view when a person starts editing a cell.
class CellDelegate : public QStyledItemDelegate {
  public:
    CellDelegate(QObject* parent, std::function<void(const QModelIndex&)> editStarts)
        : QStyledItemDelegate(parent), editStarts_(std::move(editStarts)) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        editStarts_(index);
        return QStyledItemDelegate::createEditor(parent, option, index);
    }

  private:
    std::function<void(const QModelIndex&)> editStarts_;
};

class TableView : public ControlView {
  public:
    TableView(int panel, const ControlState& state, QWidget* canvas)
        : ControlView(panel, state.id, canvas), table_(new QTableWidget(canvas)) {
        UseCLocale(table_);
        table_->setSelectionMode(QAbstractItemView::SingleSelection);
        table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
        table_->setEditTriggers(QAbstractItemView::DoubleClicked |
                                QAbstractItemView::EditKeyPressed |
                                QAbstractItemView::AnyKeyPressed);
        auto* delegate = new CellDelegate(table_, [this](const QModelIndex& index) {
            editing_ = index;
            PostEvent(panel_, control_, EVENT_EDIT_MODE_STATE_CHANGE, 1, CellCode(index));
        });
        table_->setItemDelegate(delegate);
        QObject::connect(delegate, &QAbstractItemDelegate::closeEditor, table_, [this] {
            if (!editing_.isValid()) return;
            const int code = CellCode(editing_);
            editing_ = QModelIndex();
            PostEvent(panel_, control_, EVENT_EDIT_MODE_STATE_CHANGE, 0, code);
        });
        QObject::connect(table_, &QTableWidget::itemChanged, table_,
                         [this](QTableWidgetItem* item) { UserEdit(item); });
        QObject::connect(table_, &QTableWidget::currentCellChanged, table_,
                         [this](int row, int column) {
                             if (row >= 0 && column >= 0)
                                 SetActiveTableCell(panel_, control_, Point{column + 1, row + 1});
                         });
        SetWidget(table_, LabelPlace::Above);
    }

  protected:
    void Show(const ControlState& state, const ControlState* previous) override {
        const QSignalBlocker blocker(table_);
        columns_ = state.columns;
        const bool columnsChanged =
            !previous || previous->columns.size() != state.columns.size() ||
            !std::equal(state.columns.begin(), state.columns.end(), previous->columns.begin(),
                        [](const TableColumn& a, const TableColumn& b) {
                            return a.label == b.label && a.width == b.width && a.type == b.type &&
                                   a.precision == b.precision;
                        });
        if (columnsChanged) {
            table_->setColumnCount(static_cast<int>(columns_.size()));
            QStringList labels;
            for (const TableColumn& column : columns_) labels << ToQString(column.label);
            table_->setHorizontalHeaderLabels(labels);
            for (size_t c = 0; c < columns_.size(); ++c)
                table_->setColumnWidth(static_cast<int>(c), columns_[c].width);
        }
        table_->setRowCount(static_cast<int>(state.cells.size()));
        for (size_t r = 0; r < state.cells.size(); ++r) {
            const auto& row = state.cells[r];
            for (size_t c = 0; c < columns_.size() && c < row.size(); ++c) {
                const int ri = static_cast<int>(r), ci = static_cast<int>(c);
                // The cell being typed into keeps what the person typed.
                if (editing_.isValid() && editing_.row() == ri && editing_.column() == ci) continue;
                const QString text = FormatCell(row[c], columns_[c]);
                QTableWidgetItem* item = table_->item(ri, ci);
                if (!item) {
                    item = new QTableWidgetItem;
                    if (columns_[c].type != ValueType::Text)
                        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                    table_->setItem(ri, ci, item);
                }
                if (item->text() != text) item->setText(text);
            }
        }
        const int activeRow = state.activeCell.y - 1, activeColumn = state.activeCell.x - 1;
        if (activeRow >= 0 && activeRow < table_->rowCount() && activeColumn >= 0 &&
            activeColumn < table_->columnCount() &&
            (table_->currentRow() != activeRow || table_->currentColumn() != activeColumn)) {
            table_->setCurrentCell(activeRow, activeColumn);
        }
        cells_ = state.cells;
    }

  private:
    static int CellCode(const QModelIndex& index) {
        return (index.row() + 1) * 65536 + (index.column() + 1);
    }

    void UserEdit(QTableWidgetItem* item) {
        const int row = item->row(), column = item->column();
        if (column < 0 || column >= static_cast<int>(columns_.size())) return;
        const ValueType type = columns_[column].type;
        const std::optional<Value> value = ParseCell(item->text(), type);
        if (!value) {
            // Not a number: show the program's value again.
            const QSignalBlocker blocker(table_);
            if (row < static_cast<int>(cells_.size()) &&
                column < static_cast<int>(cells_[row].size()))
                item->setText(FormatCell(cells_[row][column], columns_[column]));
            return;
        }
        const Point cell{column + 1, row + 1};
        if (const int* i = std::get_if<int>(&*value)) {
            SetTableCellVal(panel_, control_, cell, *i);
        } else if (const double* d = std::get_if<double>(&*value)) {
            SetTableCellVal(panel_, control_, cell, *d);
        } else {
            SetTableCellVal(panel_, control_, cell, std::get<std::string>(*value));
        }
        SetActiveTableCell(panel_, control_, cell);
    }

    QTableWidget* table_;
    std::vector<TableColumn> columns_;
    std::vector<std::vector<Value>> cells_;  // as the program last set them
    QPersistentModelIndex editing_;
};

// ---- Tab --------------------------------------------------------------------------

class TabView : public ControlView {
  public:
    TabView(int panel, const ControlState& state, QWidget* canvas, PageLookup pages)
        : ControlView(panel, state.id, canvas),
          tabs_(new QTabWidget(canvas)),
          pages_(std::move(pages)) {
        SetWidget(tabs_, LabelPlace::None);
        QObject::connect(tabs_, &QTabWidget::currentChanged, tabs_,
                         [this](int index) { SetCtrlVal(panel_, control_, index); });
    }

  protected:
    void Show(const ControlState& state, const ControlState*) override {
        const QSignalBlocker blocker(tabs_);
        const int count = static_cast<int>(state.pages.size());
        bool rebuild = tabs_->count() != count;
        for (int i = 0; !rebuild && i < count; ++i)
            rebuild = tabs_->widget(i) != pages_(state.pages[i]);
        if (rebuild) {
            while (tabs_->count() > 0) tabs_->removeTab(0);
            for (int i = 0; i < count; ++i) {
                QWidget* page = pages_(state.pages[i]);
                if (!page) page = new QWidget(tabs_);  // the page's panel is gone
                tabs_->addTab(page, QString());
            }
        }
        for (int i = 0; i < count; ++i) {
            const bool dimmed =
                i < static_cast<int>(state.pageDimmed.size()) && state.pageDimmed[i];
            tabs_->setTabText(i, i < static_cast<int>(state.pageLabels.size())
                                     ? ButtonText(state.pageLabels[i])
                                     : QString::number(i + 1));
            tabs_->setTabEnabled(i, !dimmed);
            tabs_->widget(i)->setEnabled(!dimmed);
        }
        const int active = AsInt(state.value);
        if (active >= 0 && active < count) tabs_->setCurrentIndex(active);
    }

  private:
    QTabWidget* tabs_;
    PageLookup pages_;
};

// ---- Picture ----------------------------------------------------------------------

class PictureView : public ControlView {
  public:
    PictureView(int panel, const ControlState& state, QWidget* canvas)
        : ControlView(panel, state.id, canvas),
          picture_(new PictureWidget(panel, state.id, canvas)) {
        SetWidget(picture_, LabelPlace::Above);
    }

  protected:
    void Show(const ControlState& state, const ControlState*) override {
        picture_->SetView(state.pictureZoom, state.picturePalette, state.scaleLow, state.scaleHigh,
                          QPoint(state.left, state.top));
        picture_->SetPicture(state.picture);
    }

  private:
    PictureWidget* picture_;
};

// ---- Graph ------------------------------------------------------------------------

class GraphView : public ControlView {
  public:
    GraphView(int panel, const ControlState& state, QWidget* canvas)
        : ControlView(panel, state.id, canvas),
          chart_(new QChart),
          axisX_(new QValueAxis),
          axisY_(new QValueAxis) {
        chart_->legend()->hide();
        chart_->setMargins(QMargins(2, 2, 2, 2));
        chart_->setBackgroundRoundness(0);
        axisX_->setLabelFormat(QStringLiteral("%.7g"));
        axisY_->setLabelFormat(QStringLiteral("%.7g"));
        chart_->addAxis(axisX_, Qt::AlignBottom);
        chart_->addAxis(axisY_, Qt::AlignLeft);
        auto* view = new QChartView(chart_, canvas);  // owns the chart
        view->setRenderHint(QPainter::Antialiasing);
        SetWidget(view, LabelPlace::Above);
        Rebuild({});
    }

    ~GraphView() override {
        // The area series refer to their outlines: they go first. The chart
        // is gone already when its window went before this view.
        if (chart_) chart_->removeAllSeries();
        DeleteBarOutlines();
    }

  protected:
    void Show(const ControlState& state, const ControlState* previous) override {
        axisX_->setTitleText(ToQString(state.xLabel));
        axisY_->setTitleText(ToQString(state.yLabel));
        if (previous && SamePlots(previous->plots, state.plots)) return;
        Rebuild(state.plots);
    }

  private:
    struct Range {
        double low = std::numeric_limits<double>::infinity();
        double high = -std::numeric_limits<double>::infinity();
        void Add(double v) {
            if (!std::isfinite(v)) return;
            low = std::min(low, v);
            high = std::max(high, v);
        }
        // An empty or flat range still needs an axis to draw.
        void Settle() {
            if (low > high) {
                low = 0;
                high = 1;
            } else if (low == high) {
                const double pad = low == 0 ? 1 : std::abs(low) * 0.1;
                low -= pad;
                high += pad;
            }
        }
    };

    void Rebuild(const std::vector<Plot>& plots) {
        chart_->removeAllSeries();
        DeleteBarOutlines();
        Range xs, ys;
        for (const Plot& plot : plots) {
            const size_t n = std::min(plot.x.size(), plot.y.size());
            QAbstractSeries* series = nullptr;
            if (plot.style == VAL_VERTICAL_BAR) {
                series = MakeBars(plot, n, xs, ys);
            } else {
                QList<QPointF> points;
                points.reserve(static_cast<qsizetype>(n));
                for (size_t i = 0; i < n; ++i) {
                    points.append(QPointF(plot.x[i], plot.y[i]));
                    xs.Add(plot.x[i]);
                    ys.Add(plot.y[i]);
                }
                if (plot.style == VAL_SCATTER) {
                    auto* scatter = new QScatterSeries;
                    scatter->setMarkerSize(6);
                    scatter->setColor(PlotColor(plot.color));
                    scatter->setBorderColor(PlotColor(plot.color));
                    scatter->replace(points);
                    series = scatter;
                } else {
                    auto* line = new QLineSeries;
                    QPen pen(PlotColor(plot.color));
                    pen.setWidth(1);
                    line->setPen(pen);
                    line->replace(points);
                    series = line;
                }
            }
            chart_->addSeries(series);
            series->attachAxis(axisX_);
            series->attachAxis(axisY_);
        }
        xs.Settle();
        ys.Settle();
        // Both axes run between whole steps, so the ticks fall on round values.
        SetTicks(axisX_, xs.low, xs.high);
        const double pad = (ys.high - ys.low) * 0.05;
        SetTicks(axisY_, ys.low < 0 ? ys.low - pad : ys.low, ys.high + pad);
    }

    static void SetTicks(QValueAxis* axis, double low, double high) {
        const double step = RoundStep(high - low, 5);
        low = std::floor(low / step) * step;
        high = std::ceil(high / step) * step;
        axis->setRange(low, high);
        axis->setTickType(QValueAxis::TicksFixed);
        axis->setTickCount(static_cast<int>(std::lround((high - low) / step)) + 1);
        axis->setMinorTickCount(0);
    }

    // Bars as one filled step outline from the x axis: x stays numeric (a
    // histogram's bin centres), which a category bar series would lose.
    QAbstractSeries* MakeBars(const Plot& plot, size_t n, Range& xs, Range& ys) {
        auto* outline = new QLineSeries;
        auto* base = new QLineSeries;
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(2 * n + 2));
        for (size_t i = 0; i < n; ++i) {
            // Each bar spans half-way to its neighbours.
            const double left = i > 0   ? (plot.x[i - 1] + plot.x[i]) / 2
                                : n > 1 ? plot.x[0] - (plot.x[1] - plot.x[0]) / 2
                                        : plot.x[0] - 0.5;
            const double right = i + 1 < n ? (plot.x[i] + plot.x[i + 1]) / 2
                                 : n > 1   ? plot.x[i] + (plot.x[i] - plot.x[i - 1]) / 2
                                           : plot.x[i] + 0.5;
            if (i == 0) points.append(QPointF(left, 0));
            points.append(QPointF(left, plot.y[i]));
            points.append(QPointF(right, plot.y[i]));
            if (i + 1 == n) points.append(QPointF(right, 0));
            xs.Add(left);
            xs.Add(right);
            ys.Add(plot.y[i]);
        }
        ys.Add(0);
        outline->replace(points);
        if (!points.isEmpty())
            base->replace({QPointF(points.front().x(), 0), QPointF(points.back().x(), 0)});
        auto* area = new QAreaSeries(outline, base);
        QColor color = PlotColor(plot.color);
        area->setPen(QPen(color, 1));
        color.setAlpha(160);
        area->setBrush(color);
        barOutlines_.push_back(outline);
        barOutlines_.push_back(base);
        return area;
    }

    // An area series does not delete its boundary lines.
    void DeleteBarOutlines() {
        for (QLineSeries* series : barOutlines_) delete series;
        barOutlines_.clear();
    }

    QPointer<QChart> chart_;
    QValueAxis* axisX_;
    QValueAxis* axisY_;
    std::vector<QPointer<QLineSeries>> barOutlines_;
};

// ---- Timer, Decoration ------------------------------------------------------------

class TimerView : public ControlView {
  public:
    TimerView(int panel, const ControlState& state, QWidget* canvas)
        : ControlView(panel, state.id, canvas) {}

  protected:
    void Show(const ControlState&, const ControlState*) override {}
};

class DecorationView : public ControlView {
  public:
    DecorationView(int panel, const ControlState& state, QWidget* canvas)
        : ControlView(panel, state.id, canvas) {
        auto* frame = new QFrame(canvas);
        frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        frame->lower();  // a frame groups controls; it never covers them
        SetWidget(frame, LabelPlace::Above);
    }

  protected:
    void Show(const ControlState&, const ControlState*) override {}
};

}  // namespace

// ---- ControlView ------------------------------------------------------------------

ControlView::ControlView(int panel, int control, QWidget* canvas)
    : panel_(panel), control_(control), canvas_(canvas) {}

ControlView::~ControlView() {
    // The canvas may already be gone with its window (QPointer tells).
    delete label_.data();
    delete widget_.data();
}

void ControlView::SetWidget(QWidget* widget, LabelPlace labelPlace) {
    widget_ = widget;
    labelPlace_ = labelPlace;
}

void ControlView::PostCommit() const {
    PostEvent(panel_, control_, EVENT_COMMIT);
}

void ControlView::Apply(const ControlState& state) {
    PlaceWidget(state);
    if (widget_) {
        widget_->setEnabled(!state.dimmed);
        widget_->setVisible(state.visible);
        widget_->setToolTip(ToQString(state.tooltip));
    }
    PlaceLabel(state);
    Show(state, shown_ ? &*shown_ : nullptr);
    shown_ = state;
}

void ControlView::SetStretch(int dx, int dy) {
    if (dx == dx_ && dy == dy_) return;
    dx_ = dx;
    dy_ = dy;
    if (!shown_) return;
    PlaceWidget(*shown_);
    PlaceLabel(*shown_);
}

QRect ControlView::Placed(const ControlState& state) const {
    QRect r(state.left, state.top, state.width, state.height);
    if (widget_ && (r.width() <= 0 || r.height() <= 0)) {
        const QSize hint = widget_->sizeHint();
        if (r.width() <= 0) r.setWidth(hint.width());
        if (r.height() <= 0) r.setHeight(hint.height());
    }
    if (state.anchors & kAnchorRight) {
        if (state.anchors & kAnchorLeft)
            r.setWidth(std::max(8, r.width() + dx_));
        else
            r.translate(dx_, 0);
    }
    if (state.anchors & kAnchorBottom) {
        if (state.anchors & kAnchorTop)
            r.setHeight(std::max(8, r.height() + dy_));
        else
            r.translate(0, dy_);
    }
    return r;
}

void ControlView::PlaceWidget(const ControlState& state) {
    if (widget_) widget_->setGeometry(Placed(state));
}

void ControlView::PlaceLabel(const ControlState& state) {
    if (labelPlace_ == LabelPlace::None || !widget_) return;
    if (state.label.empty()) {
        if (label_) label_->hide();
        return;
    }
    if (!label_) {
        label_ = new QLabel(canvas_);
        label_->setTextFormat(Qt::PlainText);
    }
    const QString text = ToQString(state.label);
    label_->setText(text);
    const QFontMetrics metrics = label_->fontMetrics();
    const int textWidth = metrics.horizontalAdvance(text) + 4;
    const int textHeight = metrics.height();
    const QRect body = Placed(state);
    QRect place;
    if (labelPlace_ == LabelPlace::AfterIndicator) {
        // The control's rectangle may hold its label: it starts after the
        // square indicator at the left and goes on beyond when it must.
        const int indicator = std::min(body.width(), body.height());
        const int left = body.left() + indicator + 6;
        place = QRect(left, body.top() + (body.height() - textHeight) / 2,
                      std::max(textWidth, body.right() + 1 - left), textHeight);
    } else if (body.top() >= textHeight + 1 || body.left() < textWidth + 6) {
        // Above the field, left-aligned with it.
        place = QRect(body.left(), std::max(0, body.top() - textHeight - 1),
                      std::max(textWidth, body.width()), textHeight);
    } else {
        // No room above (a field at the top edge): beside it on the left.
        place = QRect(body.left() - textWidth - 6,
                      body.top() + (std::min(body.height(), 2 * textHeight) - textHeight) / 2,
                      textWidth, textHeight);
    }
    label_->setGeometry(place);
    label_->setEnabled(!state.dimmed);
    label_->setVisible(state.visible);
}

std::unique_ptr<ControlView> MakeControlView(int panel, const ControlState& state, QWidget* canvas,
                                             const PageLookup& pages) {
    std::unique_ptr<ControlView> view;
    switch (state.type) {
        case CtrlType::Command:
            view = std::make_unique<CommandView>(panel, state, canvas);
            break;
        case CtrlType::Toggle:
            view = std::make_unique<ToggleView>(panel, state, canvas);
            break;
        case CtrlType::Lamp:
            view = std::make_unique<LampView>(panel, state, canvas);
            break;
        case CtrlType::Numeric:
            view = std::make_unique<NumericView>(panel, state, canvas);
            break;
        case CtrlType::Slider:
            view = std::make_unique<SliderView>(panel, state, canvas);
            break;
        case CtrlType::String:
            view = std::make_unique<StringView>(panel, state, canvas);
            break;
        case CtrlType::TextBox:
            view = std::make_unique<TextBoxView>(panel, state, canvas);
            break;
        case CtrlType::TextMessage:
            view = std::make_unique<TextMessageView>(panel, state, canvas);
            break;
        case CtrlType::Ring:
            view = std::make_unique<RingView>(panel, state, canvas);
            break;
        case CtrlType::ListBox:
            view = std::make_unique<ListBoxView>(panel, state, canvas);
            break;
        case CtrlType::RadioButton:
            view = std::make_unique<RadioButtonView>(panel, state, canvas);
            break;
        case CtrlType::RadioGroup:
        case CtrlType::Tree:
            view = std::make_unique<RadioGroupView>(panel, state, canvas);
            break;
        case CtrlType::Table:
            view = std::make_unique<TableView>(panel, state, canvas);
            break;
        case CtrlType::Tab:
            view = std::make_unique<TabView>(panel, state, canvas, pages);
            break;
        case CtrlType::Picture:
            view = std::make_unique<PictureView>(panel, state, canvas);
            break;
        case CtrlType::Graph:
            view = std::make_unique<GraphView>(panel, state, canvas);
            break;
        case CtrlType::Timer:
            view = std::make_unique<TimerView>(panel, state, canvas);
            break;
        case CtrlType::Decoration:
            view = std::make_unique<DecorationView>(panel, state, canvas);
            break;
        case CtrlType::ProgressBar:
            view = std::make_unique<ProgressBarView>(panel, state, canvas);
            break;
    }
    if (view) view->Apply(state);
    return view;
}

}  // namespace ui::qt
