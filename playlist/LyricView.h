#pragma once

#include <functional>

class QTextEdit;

// The looks of the lyric view: lines centred and wrapped at word boundaries,
// lime on dark grey, no border, a vertical scroll bar, read-only. A double
// click on the view calls `doubleClicked`.
void SetupLyricView(QTextEdit* view, std::function<void()> doubleClicked);
