#include "playlist/ListBox.h"

#include "playlist/core/DroppedPaths.h"
#include "playlist/core/Playlist.h"

#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <algorithm>
#include <utility>

namespace {
// Draws the rows from the playlist's own flags: selected rows inverted, the
// highlighted row (the item index) with a focus frame.
class RowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool selected = index.data(Playlist::SelectedRole).toBool();
        const bool highlight = index.data(Playlist::HighlightRole).toBool();
        const QPalette& pal = option.palette;
        QColor back = pal.color(QPalette::Base), text = pal.color(QPalette::Text);
        if (selected)
            std::swap(back, text);
        p->fillRect(option.rect, back);
        p->setPen(text);
        p->setFont(option.font);
        p->drawText(option.rect.adjusted(2, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft,
                    index.data(Qt::DisplayRole).toString());
        if (highlight) {
            p->setPen(QPen(text, 1, Qt::DotLine)); // visible on a selected row too
            p->drawRect(option.rect.adjusted(0, 0, -1, -1));
        }
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        // The same height for every row, asked once: the view lays out a
        // million rows without measuring a single line of text.
        return QSize(option.rect.width(), TListBox::RowHeight);
    }
};
} // namespace

TListBox::TListBox(Playlist* lists, QWidget* parent) : QListView(parent), lists_(lists) {
    setModel(lists);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setItemDelegate(new RowDelegate(this));
    // A list box keeps its scroll position when its lines are replaced.
    connect(lists, &QAbstractItemModel::modelAboutToBeReset, this,
            [this] { keptFirstRow_ = FirstVisibleRow(); });
    // The view lays its rows out again after each of these.
    for (auto changed : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(lists, changed, this, [this] { layoutPending_ = true; });
    connect(lists, &QAbstractItemModel::modelReset, this, [this] {
        layoutPending_ = true;
        SetFirstVisibleRow(keptFirstRow_);
    });
    connect(lists, &Playlist::highlightChanged, this, [this](int row) {
        if (row >= 0)
            bringIntoView(row);
    });
}

void TListBox::doItemsLayout() {
    QListView::doItemsLayout();
    if (model()->rowCount() > 0)
        ++layouts_;
    layoutPending_ = false;
    const int n = model()->rowCount();
    const int top = std::exchange(pendingFirstRow_, -1);
    const int row = std::exchange(pendingRow_, -1);
    if (top >= 0 && n > 0)
        scrollTo(model()->index(std::min(top, n - 1), 0), QAbstractItemView::PositionAtTop);
    if (row >= 0 && row < n)
        scrollTo(model()->index(row, 0));
}

void TListBox::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                           const QList<int>&) {
    // QListView would schedule a new layout of every row for any change,
    // which at a million rows costs more than the command that changed them.
    if (topLeft == bottomRight && !layoutPending_)
        update(topLeft);
    else
        viewport()->update();
}

void TListBox::bringIntoView(int row) {
    if (layoutPending_)
        pendingRow_ = row;
    else
        scrollTo(model()->index(row, 0));
}

int TListBox::FirstVisibleRow() const {
    if (layoutPending_ && pendingFirstRow_ >= 0)
        return std::min(pendingFirstRow_, std::max(0, model()->rowCount() - 1));
    const QModelIndex top = indexAt(QPoint(1, 1));
    return top.isValid() ? top.row() : 0;
}

void TListBox::SetFirstVisibleRow(int row) {
    if (model()->rowCount() == 0)
        return;
    row = std::clamp(row, 0, model()->rowCount() - 1);
    if (layoutPending_) {
        pendingFirstRow_ = row;
        pendingRow_ = -1;
        return;
    }
    scrollTo(model()->index(row, 0), QAbstractItemView::PositionAtTop);
}

int TListBox::RowAt(const QPoint& pos) const {
    const QModelIndex at = indexAt(pos);
    return at.isValid() ? at.row() : -1;
}

int TListBox::rowUnderPointer(const QPoint& pos) const {
    // Above or below the rows the pointer names the row just outside the
    // view, so that holding the button there walks the list on and scrolls.
    const int n = model()->rowCount();
    if (n == 0)
        return -1;
    if (pos.y() < 0)
        return std::max(0, FirstVisibleRow() - 1);
    if (pos.y() >= viewport()->height()) {
        const int bottom = viewport()->height() - 1;
        const int last = RowAt(QPoint(1, bottom));
        if (last < 0)
            return n - 1;
        // A row cut off by the bottom edge is the next one to show in full.
        const bool cutOff = visualRect(model()->index(last, 0)).bottom() > bottom;
        return cutOff ? last : std::min(n - 1, last + 1);
    }
    return RowAt(QPoint(1, pos.y()));
}

void TListBox::clickRow(int row, Qt::KeyboardModifiers modifiers) {
    if (row < 0)
        return;
    // Extended selection: a plain click selects only its row, Ctrl adds or
    // removes one row, Shift selects the run from the anchor. In single
    // selection the highlighted row is the selection, so there is nothing
    // more to do.
    if (lists_->MultiSelect()) {
        const bool ctrl = modifiers & Qt::ControlModifier;
        const bool shift = (modifiers & Qt::ShiftModifier) && anchorRow_ >= 0;
        if (shift) {
            if (!ctrl)
                lists_->SetAllSelectedB(false);
            lists_->SetRangeSelectedB(anchorRow_, row, true);
        } else if (ctrl) {
            lists_->SetSelectedB(row, !lists_->SelectedB(row));
        } else {
            lists_->SetAllSelectedB(false);
            lists_->SetSelectedB(row, true);
        }
        if (!shift)
            anchorRow_ = row;
    } else {
        anchorRow_ = row;
    }
    lists_->SetHighlightedRow(row);
    emit currentRowChanged();
}

void TListBox::keyPressEvent(QKeyEvent* event) {
    emit keyDown(event->key(), event->modifiers());
    const int n = model()->rowCount();
    const int page = std::max(1, viewport()->height() / RowHeight - 1);
    const int from = lists_->HighlightedRow();
    int row = from;
    switch (event->key()) {
    case Qt::Key_Home:
        row = 0;
        break;
    case Qt::Key_End:
        row = n - 1;
        break;
    case Qt::Key_PageDown:
        row = std::min(n - 1, from + page);
        break;
    case Qt::Key_PageUp:
        row = std::max(0, from - page);
        break;
    case Qt::Key_Up:
        row = std::max(0, from - 1);
        break;
    case Qt::Key_Down:
        row = std::min(n - 1, from + 1);
        break;
    default:
        return;
    }
    if (n == 0 || row == from)
        return;
    // In multi-selection Ctrl moves only the focus row, as a list box does;
    // otherwise the keys select like a click.
    if (lists_->MultiSelect() && (event->modifiers() & Qt::ControlModifier) &&
        !(event->modifiers() & Qt::ShiftModifier)) {
        lists_->SetHighlightedRow(row);
        emit currentRowChanged();
        return;
    }
    clickRow(row, event->modifiers() & Qt::ShiftModifier);
}

void TListBox::keyReleaseEvent(QKeyEvent* event) {
    emit keyUp(event->key(), event->modifiers());
}

void TListBox::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    if (event->button() == Qt::LeftButton)
        clickRow(RowAt(event->position().toPoint()), event->modifiers());
    emit mousePressed(event->button());
}

void TListBox::mouseMoveEvent(QMouseEvent* event) {
    // While the left button is held in single selection the highlight
    // follows the pointer: the release then names the drag's target row.
    if ((event->buttons() & Qt::LeftButton) && !lists_->MultiSelect()) {
        const int row = rowUnderPointer(event->position().toPoint());
        if (row >= 0 && row != lists_->HighlightedRow())
            clickRow(row, Qt::NoModifier);
    }
}

void TListBox::mouseReleaseEvent(QMouseEvent* event) {
    emit mouseReleased(event->button());
}

void TListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click is a press like the first one; the
    // double click itself follows it.
    mousePressEvent(event);
    if (event->button() == Qt::LeftButton)
        emit doubleClicked();
}

static std::vector<QByteArray> droppedPaths(const QMimeData* data) {
    if (!data || !data->hasUrls())
        return {};
    return DroppedPaths(data->urls());
}

// The playlist only names the files, so a drop is always a copy: accepting a
// move would tell the file manager that it may take the files away.
static void answerDrag(QDropEvent* event) {
    if ((event->possibleActions() & Qt::CopyAction) && !droppedPaths(event->mimeData()).empty()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void TListBox::dragEnterEvent(QDragEnterEvent* event) {
    answerDrag(event);
}

void TListBox::dragMoveEvent(QDragMoveEvent* event) {
    answerDrag(event);
}

void TListBox::dropEvent(QDropEvent* event) {
    answerDrag(event);
    if (event->isAccepted())
        emit filesDropped(droppedPaths(event->mimeData()));
}
