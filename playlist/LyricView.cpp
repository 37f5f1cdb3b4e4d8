#include "playlist/LyricView.h"

#include "platform/ClipboardText.h"
#include "windows/Controls.h"

#include <QEvent>
#include <QFont>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextOption>

namespace {

// Turns double clicks on the view's text area into a call.
class DoubleClickFilter : public QObject {
public:
    DoubleClickFilter(QObject* parent, std::function<void()> call)
        : QObject(parent), call_(std::move(call)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonDblClick && call_) {
            call_();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> call_;
};

} // namespace

QMimeData* TLyricView::createMimeDataFromSelection() const {
    return ClipboardText(textCursor().selection().toPlainText()).release();
}

void SetupLyricView(QTextEdit* view, std::function<void()> doubleClicked) {
    view->setReadOnly(true);
    view->setAcceptRichText(false);
    view->setFrameStyle(QFrame::NoFrame);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setLineWrapMode(QTextEdit::WidgetWidth);

    // Alignment and wrapping are the document's defaults, so that every text
    // put into the view later is centred as well.
    QTextOption option = view->document()->defaultTextOption();
    option.setAlignment(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    view->document()->setDefaultTextOption(option);

    QPalette colours = view->palette();
    colours.setColor(QPalette::Base, DataGround);
    colours.setColor(QPalette::Text, DataText);
    view->setPalette(colours);

    view->setFont(DesignFont(QStringLiteral("MS Sans Serif")));

    view->viewport()->installEventFilter(new DoubleClickFilter(view, std::move(doubleClicked)));
}
