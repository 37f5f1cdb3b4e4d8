#pragma once

#include <QByteArray>
#include <QListView>
#include <vector>

class Playlist;

// The visible playlist ListB: a view of the playlist's display lines. The
// selection flags and the highlighted row live in the Playlist, not in Qt's
// selection model, so that selecting, inverting and clearing 100,000 rows
// are plain passes over a vector. The view keeps its first visible row when
// the lines are rebuilt, as a list box does.
class TListBox : public QListView {
    Q_OBJECT
public:
    explicit TListBox(Playlist* lists, QWidget* parent = nullptr);

    // Every row is this many pixels high, whatever the font asks for.
    static constexpr int RowHeight = 13;

    int FirstVisibleRow() const;
    void SetFirstVisibleRow(int row);
    int RowAt(const QPoint& pos) const;

    // How often rows have been laid out since the list was made (an empty
    // list has none to lay out).
    int LayoutCount() const { return layouts_; }
    void doItemsLayout() override;

signals:
    void keyDown(int key, Qt::KeyboardModifiers modifiers);
    void keyUp(int key, Qt::KeyboardModifiers modifiers);
    void mousePressed(Qt::MouseButton button);
    void mouseReleased(Qt::MouseButton button);
    void doubleClicked();
    void currentRowChanged(); // the user moved the highlight
    // Files and folders dropped from a file manager, as the bytes of their
    // paths, in the order the drop names them.
    void filesDropped(const std::vector<QByteArray>& paths);

protected:
    // Changed lines are repainted, never laid out again: every row has the
    // same height, so new text cannot move one.
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = QList<int>()) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void clickRow(int row, Qt::KeyboardModifiers modifiers);
    int rowUnderPointer(const QPoint& pos) const;

    void bringIntoView(int row);

    Playlist* lists_;
    // Laying out a million rows takes a while, so it is done once, when the
    // view next needs it: scrolling asked for while a layout is pending waits
    // for that layout instead of forcing one of its own.
    bool layoutPending_ = true;
    int pendingFirstRow_ = -1;
    int pendingRow_ = -1;
    int layouts_ = 0;
    int keptFirstRow_ = 0;
    int anchorRow_ = -1; // where a Shift range starts in multi-selection
};
