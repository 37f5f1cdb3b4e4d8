#include "windows/Controls.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHash>
#include <QHelpEvent>
#include <QImageReader>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QScreen>
#include <QStyleFactory>
#include <QStyleOption>
#include <QStyleOptionSlider>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolTip>

// The pictures are compiled into the library. A static library leaves out an
// object that nothing refers to, and so would the pictures; every window is
// built from these controls, so this is the place that keeps them in.
[[maybe_unused]] static const bool picturesLinked = [] {
    Q_INIT_RESOURCE(resources);
    return true;
}();

// The design names the windows ask for, each with the faces that stand in
// for it, best first.
struct DesignFamily {
    QString name;
    QStringList faces;
};

// The design name is also made a substitution of its faces, for text that
// names a design family itself; the windows' own fonts ask for the first
// face that is installed. A family the font database lacks would make Qt
// ask fontconfig to sort every face by likeness to it, once for each design
// name, before it even tried the substitutes.
static QHash<QString, QString> findDesignFaces() {
    const QStringList sans{QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")};
    const DesignFamily designFamilies[] = {
        {QStringLiteral("MS Sans Serif"), sans},
        {QStringLiteral("Microsoft Sans Serif"), sans},
        {QStringLiteral("Tahoma"),
         {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")}},
        {QStringLiteral("Modern"),
         {QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Liberation Mono")}},
    };
    const QStringList installed = QFontDatabase::families();
    QHash<QString, QString> faces;
    for (const DesignFamily& design : designFamilies) {
        QFont::insertSubstitutions(design.name, design.faces);
        for (const QString& face : design.faces) {
            if (installed.contains(face)) {
                faces.insert(design.name, face);
                break;
            }
        }
    }
    return faces;
}

// The design names and the face that each is shown in; made once.
static const QHash<QString, QString>& designFaces() {
    static const QHash<QString, QString> faces = findDesignFaces();
    return faces;
}

static void useFontSubstitutes() {
    designFaces();
}

QFont DesignFont(const QString& family, int pixelHeight, bool fixedPitch) {
    QFont font(designFaces().value(family, family));
    font.setPixelSize(pixelHeight);
    font.setFixedPitch(fixedPitch);
    // The hint picks the faces that stand in for characters the face lacks,
    // which should look like the design family: monospaced for "Modern"
    // alone. A fixed pitch asked of a proportional family then shares its
    // stand-ins with the family's other uses, which are worked out only once.
    font.setStyleHint(family == QLatin1String("Modern") ? QFont::TypeWriter : QFont::SansSerif);
    return font;
}

static QPixmap readPicture(const QString& resource) {
    QImageReader reader(resource, QFileInfo(resource).suffix().toLatin1());
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

QPixmap DesignPicture(const QString& resource) {
    // A high-density screen gets the drawing made at twice the size, shown
    // in the same place with four times the pixels, rather than the picture
    // blown up and soft.
    if (qApp && qApp->devicePixelRatio() > 1.0) {
        const QFileInfo file(resource);
        const QString doubled = file.path() + QStringLiteral("/") + file.completeBaseName() +
                                QStringLiteral("@2x.") + file.suffix();
        if (QFileInfo::exists(doubled)) {
            QPixmap picture = readPicture(doubled);
            picture.setDevicePixelRatio(2.0);
            return picture;
        }
    }
    return readPicture(resource);
}

namespace {
// Shows every hint of the application for a fixed time.
class HintTimer : public QObject {
public:
    using QObject::QObject;
    int hideAfterMs = 2000;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::ToolTip || !watched->isWidgetType())
            return false;
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->toolTip().isEmpty())
            return false; // the parent's hint, if any, answers
        QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), widget->toolTip(), widget,
                           QRect(), hideAfterMs);
        return true;
    }
};
} // namespace

void SetHintLooks(const QColor& background, const QColor& text, int hideAfterMs) {
    QPalette palette = QToolTip::palette();
    palette.setColor(QPalette::ToolTipBase, background);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, text);
    QToolTip::setPalette(palette);
    QToolTip::setFont(DesignFont(QStringLiteral("Tahoma")));
    static QPointer<HintTimer> filter;
    if (!filter) {
        filter = new HintTimer(qApp);
        qApp->installEventFilter(filter);
    }
    filter->hideAfterMs = hideAfterMs;
}

void DrawBevel(QPainter& painter, const QRect& rect, TBevel bevel) {
    if (bevel == TBevel::None)
        return;
    // The classic button face edges: a white highlight and a grey shadow.
    const QColor highlight(255, 255, 255);
    const QColor shadow(128, 128, 128);
    const QColor& topLeft = bevel == TBevel::Raised ? highlight : shadow;
    const QColor& bottomRight = bevel == TBevel::Raised ? shadow : highlight;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(topLeft);
    painter.drawLine(rect.topLeft(), rect.topRight());
    painter.drawLine(rect.topLeft(), rect.bottomLeft());
    painter.setPen(bottomRight);
    painter.drawLine(rect.bottomLeft(), rect.bottomRight());
    painter.drawLine(rect.topRight(), rect.bottomRight());
    painter.restore();
}

// --- TPanel -------------------------------------------------------------------

TPanel::TPanel(QWidget* parent) : QLabel(parent) {
    useFontSubstitutes();
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignCenter);
    setFrameStyle(QFrame::NoFrame);
    setAutoFillBackground(true);
    setMouseTracking(true);
    setBevels(inner_, outer_);
}

void TPanel::setColors(const QColor& background, const QColor& text) {
    QPalette p = palette();
    p.setColor(QPalette::Window, background);
    p.setColor(QPalette::WindowText, text);
    setPalette(p);
}

void TPanel::setBevels(TBevel inner, TBevel outer) {
    inner_ = inner;
    outer_ = outer;
    const int edge = (inner_ != TBevel::None) + (outer_ != TBevel::None);
    setContentsMargins(edge, edge, edge, edge);
    update();
}

void TPanel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    // A click is a press and a release on the panel, as for a button.
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

void TPanel::mouseMoveEvent(QMouseEvent* event) {
    QLabel::mouseMoveEvent(event);
    emit mouseMoved();
}

void TPanel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    QPainter painter(this);
    QRect edge = rect();
    if (outer_ != TBevel::None) {
        DrawBevel(painter, edge, outer_);
        edge.adjust(1, 1, -1, -1);
    }
    DrawBevel(painter, edge, inner_);
}

namespace {
class InsideScreen : public QObject {
public:
    InsideScreen(QWidget* window) : QObject(window), designed_(window->pos()) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // The first look waits until the window is mapped: a window moved
        // while it is being shown loses the place it asked for, and a window
        // manager such as twm then waits for the user to place it.
        if (event->type() == QEvent::Show) {
            auto* window = static_cast<QWidget*>(watched);
            QTimer::singleShot(0, this, [this, window] { look(window); });
        }
        return false;
    }

private:
    // The frame is known only once the window manager has framed the
    // window, some time after it is mapped: until then the place is fitted
    // to the window alone, and once more to the frame; then the watch ends
    // and later moves are the user's. Without a window manager there is no
    // frame, and the watch ends after a while.
    void look(QWidget* window) {
        if (!window->isVisible())
            return;
        fit(window);
        const bool framed = window->frameGeometry().size() != window->size();
        if (framed || --looksLeft_ == 0) {
            window->removeEventFilter(this);
            deleteLater();
            return;
        }
        QTimer::singleShot(50, this, [this, window] { look(window); });
    }

    void fit(QWidget* window) {
        const QScreen* screen = window->screen();
        if (!screen)
            return;
        const QRect room = screen->availableGeometry();
        QRect frame = window->frameGeometry();
        frame.moveTopLeft(designed_);
        if (frame.right() > room.right())
            frame.moveRight(room.right());
        if (frame.bottom() > room.bottom())
            frame.moveBottom(room.bottom());
        frame.moveLeft(std::max(frame.left(), room.left()));
        frame.moveTop(std::max(frame.top(), room.top()));
        if (frame.topLeft() != window->pos())
            window->move(frame.topLeft());
    }

    QPoint designed_;
    int looksLeft_ = 40;
};
} // namespace

void KeepInsideScreen(QWidget* window) {
    window->installEventFilter(new InsideScreen(window));
}

// --- TSpeedButton -------------------------------------------------------------

TSpeedButton::TSpeedButton(QWidget* parent) : QToolButton(parent) {
    useFontSubstitutes();
    setAutoRaise(true);
    // Reached by Tab like any button, and never by a click, which would take
    // the focus from the list or the box the user works in.
    setFocusPolicy(Qt::TabFocus);
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
}

void TSpeedButton::setGlyph(const QPixmap& normal, const QPixmap& disabled) {
    QIcon glyph(normal);
    if (!disabled.isNull())
        glyph.addPixmap(disabled, QIcon::Disabled);
    setIconSize(normal.deviceIndependentSize().toSize());
    setIcon(glyph);
}

bool TSpeedButton::isStruckOut() const {
    return font().strikeOut();
}

void TSpeedButton::setStruckOut(bool on) {
    QFont f = font();
    f.setStrikeOut(on);
    setFont(f);
}

void TSpeedButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const bool pressed = isDown() || isChecked();
    if (pressed)
        DrawBevel(painter, rect(), TBevel::Lowered);
    else if (underMouse() && isEnabled())
        DrawBevel(painter, rect(), TBevel::Raised);

    // Glyph and caption are centred together, the glyph first, as the
    // design's leading blanks in some captions expect.
    const QPixmap glyph =
        icon().isNull() ? QPixmap()
                        : icon().pixmap(iconSize(), isEnabled() ? QIcon::Normal : QIcon::Disabled);
    const QSize glyphSize = glyph.isNull() ? QSize() : glyph.deviceIndependentSize().toSize();
    const int textWidth =
        text().isEmpty() ? 0 : fontMetrics().size(Qt::TextShowMnemonic, text()).width();
    const int spacing = glyph.isNull() || text().isEmpty() ? 0 : GlyphSpacing;
    const int shift = pressed ? 1 : 0;
    int x = std::max(0, (width() - glyphSize.width() - spacing - textWidth) / 2) + shift;
    if (!glyph.isNull()) {
        painter.drawPixmap(x, (height() - glyphSize.height()) / 2 + shift, glyph);
        x += glyphSize.width() + spacing;
    }
    if (!text().isEmpty()) {
        const QRect textRect(x, shift, width() - x, height());
        style()->drawItemText(&painter, textRect,
                              Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, palette(),
                              isEnabled(), text(), QPalette::ButtonText);
    }
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(2, 2, -2, -2);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

// --- TSeekBar -----------------------------------------------------------------

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
    DrawBevel(p, rect(), TBevel::Lowered);
    const QRect inside = rect().adjusted(1, 1, -1, -1);
    const qint64 span = qint64(maximum()) - minimum();
    if (span > 0) {
        const int w = int(double(value() - minimum()) / double(span) * inside.width());
        p.fillRect(QRect(inside.left(), inside.top(), w, inside.height()), bar_);
    }
}

// --- TComboBox ----------------------------------------------------------------

namespace {
class FixedRowHeight : public QStyledItemDelegate {
public:
    FixedRowHeight(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(height_);
        return size;
    }

private:
    int height_;
};
} // namespace

TComboBox::TComboBox(QWidget* parent) : QComboBox(parent) {
    setItemHeight(itemHeight_);
}

void TComboBox::setColors(const QColor& background, const QColor& text) {
    QPalette p = palette();
    for (auto role : {QPalette::Base, QPalette::Window, QPalette::Button})
        p.setColor(role, background);
    for (auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        p.setColor(role, text);
    p.setColor(QPalette::Highlight, text);
    p.setColor(QPalette::HighlightedText, background);
    setPalette(p);
    view()->setPalette(p);
}

void TComboBox::setItemHeight(int pixels) {
    itemHeight_ = pixels;
    setItemDelegate(new FixedRowHeight(pixels, this));
}

void TComboBox::keyPressEvent(QKeyEvent* event) {
    const bool typed = autoDropDown && !event->text().isEmpty() && event->text().at(0).isPrint();
    QComboBox::keyPressEvent(event);
    if (typed && !view()->isVisible())
        showPopup();
}

void TComboBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect frame = rect();
    p.fillRect(frame, palette().color(QPalette::Base));
    DrawBevel(p, frame, TBevel::Lowered);

    // The drop-down button: a raised square with a small arrow.
    const int side = frame.height() - 2;
    const QRect button(frame.right() - side, frame.top() + 1, side, side);
    p.fillRect(button, palette().color(QPalette::Base).lighter(135));
    DrawBevel(p, button, TBevel::Raised);
    const QPointF c = QRectF(button).center();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(palette().color(QPalette::Text));
    p.drawPolygon(
        QPolygonF{{c.x() - 3.5, c.y() - 1.5}, {c.x() + 3.5, c.y() - 1.5}, {c.x(), c.y() + 2.5}});
    p.setRenderHint(QPainter::Antialiasing, false);

    QRect textRect = frame.adjusted(2, 2, -side - 2, -2);
    QColor textColour = palette().color(QPalette::Text);
    if (hasFocus()) {
        p.fillRect(textRect, palette().color(QPalette::Highlight));
        textColour = palette().color(QPalette::HighlightedText);
    }
    p.setPen(textColour);
    p.setFont(font());
    p.drawText(textRect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, currentText());
}

// --- TScrollBar ---------------------------------------------------------------

namespace {
// Fusion's geometry of a scroll bar, drawn in the panels' colours.
class SlimScrollBarStyle : public QProxyStyle {
public:
    SlimScrollBarStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_ScrollBarExtent && widget)
            return std::min(widget->width(), widget->height());
        if (metric == PM_ScrollBarSliderMin)
            return 8;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* answer) const override {
        if (hint == SH_ScrollBar_Transient)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, answer);
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* p,
                            const QWidget* widget) const override {
        const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
        if (control != CC_ScrollBar || !bar) {
            QProxyStyle::drawComplexControl(control, option, p, widget);
            return;
        }
        const QColor& ground = DataGround;
        const QColor& lime = DataText;
        const QColor face(112, 106, 106);
        p->fillRect(bar->rect, ground);
        DrawBevel(*p, bar->rect, TBevel::Lowered);

        auto pressed = [&](SubControl part) {
            return (bar->activeSubControls & part) && (bar->state & State_Sunken);
        };
        auto arrowButton = [&](SubControl part, bool pointsBack) {
            const QRect r = subControlRect(control, bar, part, widget);
            p->fillRect(r, face);
            DrawBevel(*p, r, pressed(part) ? TBevel::Lowered : TBevel::Raised);
            const QPointF c = QRectF(r).center();
            const bool horizontal = bar->orientation == Qt::Horizontal;
            const double d = pointsBack ? -1 : 1;
            QPolygonF arrow = horizontal ? QPolygonF{{c.x() + 2 * d, c.y()},
                                                     {c.x() - 1.5 * d, c.y() - 3},
                                                     {c.x() - 1.5 * d, c.y() + 3}}
                                         : QPolygonF{{c.x(), c.y() + 2 * d},
                                                     {c.x() - 3, c.y() - 1.5 * d},
                                                     {c.x() + 3, c.y() - 1.5 * d}};
            p->save();
            p->setRenderHint(QPainter::Antialiasing);
            p->setPen(Qt::NoPen);
            p->setBrush(bar->state & State_Enabled ? lime : QColor(150, 150, 150));
            p->drawPolygon(arrow);
            p->restore();
        };
        arrowButton(SC_ScrollBarSubLine, true);
        arrowButton(SC_ScrollBarAddLine, false);

        const QRect slider = subControlRect(control, bar, SC_ScrollBarSlider, widget);
        if (slider.isValid()) {
            p->fillRect(slider, pressed(SC_ScrollBarSlider) ? lime.darker(130) : lime);
            DrawBevel(*p, slider, TBevel::Raised);
        }
    }
};

QStyle* slimScrollBarStyle() {
    // One style for all such bars, living as long as the application.
    static QPointer<QStyle> style;
    if (!style) {
        style = new SlimScrollBarStyle;
        style->setParent(qApp);
    }
    return style;
}
} // namespace

TScrollBar::TScrollBar(Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent) {
    setStyle(slimScrollBarStyle());
}

TGroupBox::TGroupBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

int TGroupBox::frameTop() const {
    return fontMetrics().height() / 2;
}

void TGroupBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect frame = rect().adjusted(0, frameTop(), -1, -1);
    p.setPen(palette().color(QPalette::Dark));
    p.drawRect(frame.adjusted(0, 0, -1, -1));
    p.setPen(palette().color(QPalette::Light));
    p.drawRect(frame.adjusted(1, 1, 0, 0));
    if (title().isEmpty())
        return;
    // The caption stands on the box's ground, 8 pixels in, and hides the
    // frame line behind it.
    const QFontMetrics metrics = fontMetrics();
    const QRect caption(8, 0, metrics.horizontalAdvance(title()) + 4, metrics.height());
    p.fillRect(caption, palette().color(backgroundRole()));
    p.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(caption, Qt::AlignCenter | Qt::TextHideMnemonic, title());
}
