#pragma once

#include <QTextEdit>
#include <functional>

// The lyric view's text leaves it as plain text only, whichever way it is
// taken: Copy, Ctrl+C, a mouse selection (X's primary selection) or a drag.
class TLyricView : public QTextEdit {
public:
    using QTextEdit::QTextEdit;

protected:
    QMimeData* createMimeDataFromSelection() const override;
};

// The looks of the lyric view: lines centred and wrapped at word boundaries,
// lime on dark grey, no border, a vertical scroll bar, read-only. A double
// click on the view calls `doubleClicked`.
void SetupLyricView(QTextEdit* view, std::function<void()> doubleClicked);
