#pragma once

#include <QColor>
#include <QLabel>
#include <QProgressBar>
#include <QToolButton>

// The small kinds of control the windows are built from.

// A display panel: text on a coloured ground inside a bevelled frame.
class TPanel : public QLabel {
    Q_OBJECT
public:
    explicit TPanel(QWidget* parent = nullptr);
    void setColors(const QColor& background, const QColor& text);

signals:
    void clicked();
    void mouseMoved();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

// A flat button that never takes the focus. Its caption's "&" marks the
// access key; the caption's strike-out is a state some buttons keep.
class TSpeedButton : public QToolButton {
    Q_OBJECT
public:
    explicit TSpeedButton(QWidget* parent = nullptr);
    bool isStruckOut() const;
    void setStruckOut(bool on);
};

// The seek bar: a smooth progress bar that reports presses and moves.
class TSeekBar : public QProgressBar {
    Q_OBJECT
public:
    explicit TSeekBar(QWidget* parent = nullptr);
    void setColors(const QColor& background, const QColor& bar);

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
