#include "windows/Controls.h"

#include <QMouseEvent>
#include <QPainter>

TPanel::TPanel(QWidget* parent) : QLabel(parent) {
    setAlignment(Qt::AlignCenter);
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    setAutoFillBackground(true);
    setMouseTracking(true);
}

void TPanel::setColors(const QColor& background, const QColor& text) {
    QPalette p = palette();
    p.setColor(QPalette::Window, background);
    p.setColor(QPalette::WindowText, text);
    setPalette(p);
}

void TPanel::mousePressEvent(QMouseEvent* event) {
    QLabel::mousePressEvent(event);
    if (event->button() == Qt::LeftButton)
        emit clicked();
}

void TPanel::mouseMoveEvent(QMouseEvent* event) {
    QLabel::mouseMoveEvent(event);
    emit mouseMoved();
}

void TPanel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
}

TSpeedButton::TSpeedButton(QWidget* parent) : QToolButton(parent) {
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
}

bool TSpeedButton::isStruckOut() const { return font().strikeOut(); }

void TSpeedButton::setStruckOut(bool on) {
    QFont f = font();
    f.setStrikeOut(on);
    setFont(f);
}

TSeekBar::TSeekBar(QWidget* parent) : QProgressBar(parent) {
    setTextVisible(false);
    setMinimum(0);
    setMaximum(100);
    setValue(0);
    setMouseTracking(true);
}

void TSeekBar::setColors(const QColor& background, const QColor& bar) {
    background_ = background;
    bar_ = bar;
    update();
}

void TSeekBar::mousePressEvent(QMouseEvent* event) {
    emit mousePressed(event->button(), int(event->position().x()));
}

void TSeekBar::mouseMoveEvent(QMouseEvent* event) {
    QProgressBar::mouseMoveEvent(event);
    emit mouseMoved();
}

void TSeekBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), background_);
    const qint64 span = qint64(maximum()) - minimum();
    if (span > 0) {
        const int w = int(double(value() - minimum()) / double(span) * width());
        p.fillRect(QRect(0, 0, w, height()), bar_);
    }
}
