#pragma once

#include <QColor>
#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QScrollBar>
#include <QToolButton>

// The small kinds of control the windows are built from, and the looks they
// share: bevelled panels, flat buttons with pictures, the seek bar.

// The colours every window shares: data is shown in lime on dark grey (the
// playlist's lines in a slightly softer green), on light green windows.
inline const QColor DataGround(74, 70, 70);
inline const QColor DataText(0, 255, 0);
inline const QColor ListText(57, 249, 67);
inline const QColor WindowGreen(187, 248, 120);

// The font of the windows' design at a height in pixels. The design names
// "MS Sans Serif", "Microsoft Sans Serif", "Tahoma" and "Modern", which
// Linux does not have; each is mapped onto a free face of like shape (the
// DejaVu and Liberation families), so callers keep the design's names.
QFont DesignFont(const QString& family, int pixelHeight = 11, bool fixedPitch = false);

// A picture compiled into the program, read as the format its name ends in.
// Naming the format spares Qt loading every image plugin it has, to ask each
// whether it knows the picture.
QPixmap DesignPicture(const QString& resource);

// Keeps a window that was just moved to its design place whole on the
// screen: once shown and framed, it is moved inside the screen's available
// area when it would stick out, and stays where it is when it fits. Later
// moves are the user's.
void KeepInsideScreen(QWidget* window);

// Hints of the whole application: their colours, and how long a shown hint
// stays before it is hidden again.
void SetHintLooks(const QColor& background, const QColor& text, int hideAfterMs);

// A bevel is a one-pixel edge that makes a rectangle look raised or lowered.
enum class TBevel { None, Lowered, Raised };
void DrawBevel(QPainter& painter, const QRect& rect, TBevel bevel);

// A display panel: plain text on a coloured ground inside its bevels. By
// default it has a raised outer and no inner bevel. Rich text is never
// interpreted: the panels show file names, which may look like markup.
class TPanel : public QLabel {
    Q_OBJECT
public:
    explicit TPanel(QWidget* parent = nullptr);
    void setColors(const QColor& background, const QColor& text);
    void setBevels(TBevel inner, TBevel outer);
    TBevel innerBevel() const { return inner_; }
    TBevel outerBevel() const { return outer_; }

signals:
    void clicked();
    void mouseMoved();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    TBevel inner_ = TBevel::None;
    TBevel outer_ = TBevel::Raised;
};

// A flat button that never takes the focus. It shows its edge only under
// the mouse and while pressed; its picture (the glyph) sits left of the
// caption, or in the middle when there is no caption, and a second picture
// stands for the disabled state. The caption's "&" underlines the next
// letter, and Alt with that letter presses the button. The caption's
// strike-out is a state some buttons keep (plain: shown, struck out: hidden).
class TSpeedButton : public QToolButton {
    Q_OBJECT
public:
    explicit TSpeedButton(QWidget* parent = nullptr);
    void setGlyph(const QPixmap& normal, const QPixmap& disabled = QPixmap());
    bool isStruckOut() const;
    void setStruckOut(bool on);

    // Room between the glyph and the caption.
    static constexpr int GlyphSpacing = 4;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A group box whose frame's top line runs through the middle of its
// caption, a few pixels below the box's top edge, so that controls placed
// 16 pixels down the box sit inside the frame. (Qt's styles put the whole
// caption above the frame and the line would cut through that first row.)
// The frame is etched, a dark line with a light one inside it.
class TGroupBox : public QGroupBox {
    Q_OBJECT
public:
    explicit TGroupBox(const QString& title, QWidget* parent = nullptr);
    // Where the frame's top line runs, in the box's own coordinates.
    int frameTop() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The seek bar: a smooth progress bar in two colours that reports presses
// and moves of the mouse.
class TSeekBar : public QProgressBar {
    Q_OBJECT
public:
    explicit TSeekBar(QWidget* parent = nullptr);
    void setColors(const QColor& background, const QColor& bar);
    QColor backgroundColor() const { return background_; }
    QColor barColor() const { return bar_; }

signals:
    void mousePressed(Qt::MouseButton button, int x);
    void mouseMoved();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QColor background_{74, 70, 70};
    QColor bar_{255, 0, 0};
};

// A drop-down list drawn flat in its colours, with a lowered edge. Its rows
// have a height of their own, and with autoDropDown the list opens as soon
// as a key is typed into the box.
class TComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TComboBox(QWidget* parent = nullptr);
    void setColors(const QColor& background, const QColor& text);
    void setItemHeight(int pixels);
    int itemHeight() const { return itemHeight_; }
    bool autoDropDown = false;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int itemHeight_ = 13;
};

// A slim scroll bar in the panels' colours, with arrow buttons as wide as
// the bar is high.
class TScrollBar : public QScrollBar {
    Q_OBJECT
public:
    explicit TScrollBar(Qt::Orientation orientation, QWidget* parent = nullptr);
};
