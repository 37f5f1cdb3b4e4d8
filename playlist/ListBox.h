#pragma once

#include <QListView>

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

signals:
    void keyDown(int key, Qt::KeyboardModifiers modifiers);
    void keyUp(int key, Qt::KeyboardModifiers modifiers);
    void mousePressed(Qt::MouseButton button);
    void mouseReleased(Qt::MouseButton button);
    void doubleClicked();
    void currentRowChanged(); // the user moved the highlight

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void clickRow(int row, Qt::KeyboardModifiers modifiers);
    int rowUnderPointer(const QPoint& pos) const;

    Playlist* lists_;
    int keptFirstRow_ = 0;
    int anchorRow_ = -1; // where a Shift range starts in multi-selection
};
