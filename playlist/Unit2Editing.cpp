// Selecting and editing the playlist: the "&Clear" and "&Sel" commands,
// shuffling, the keys and mouse of ListB.

#include "playlist/Unit2.h"

#include "player/Unit1.h"
#include "playlist/ListBox.h"
#include "playlist/core/Playlist.h"

#include <chrono>
#include <random>

void TForm2::Clearplaylist1Click() {
    if (EntryCount() == 0)
        return;
    ClearEntries();
    UpdateCaption();
}

void TForm2::Clearselected1Click() {
    if (EntryCount() > 0) {
        // Into multi-selection first: the highlighted row of a single
        // selection becomes its one flag, so exactly that row goes.
        Lists->SetMultiSelect(true);
        DeleteSelectedEntries();
        UpdateCaption();
    }
    RenumberList();
}

void TForm2::Crop1Click() {
    if (EntryCount() > 0) {
        Lists->SetMultiSelect(true);
        InvertSelection();
        DeleteSelectedEntries();
        UpdateCaption();
    }
    RenumberList();
}

void TForm2::SelectAll1Click() {
    Lists->SetMultiSelect(true);
    Lists->SetAllSelectedB(true);
    Lists->SetAllSelectedA(true);
}

void TForm2::DeselectAll2Click() {
    Lists->SetAllSelectedB(false);
    Lists->SetAllSelectedA(false);
}

void TForm2::InvertSelection1Click() {
    InvertSelection();
}

void TForm2::InvertSelection() {
    // Clearing ListA's flags comes before the switch to multi-selection, so
    // in single selection it also leaves no current entry.
    Lists->SetAllSelectedA(false);
    Lists->SetMultiSelect(true);
    const int focusRow = Lists->HighlightedRow();
    Lists->InvertSelectionFlags();
    Lists->SetHighlightedRow(focusRow);
}

void TForm2::Shufflelist1Click() {
    const int n = EntryCount();
    const int firstRow = n >= 2 ? ListB->FirstVisibleRow() : 0;
    // Each entry is exchanged with one drawn from those before it, so the
    // result is always one cycle through all positions: no entry stays
    // where it was. The generator is seeded once from the clock; seeding it
    // again before every draw would repeat draws made within one clock tick.
    std::mt19937 random(
        unsigned(std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    for (int i = 1; i < n; ++i)
        Lists->ExchangeEntriesA(i, std::uniform_int_distribution<int>(0, i - 1)(random));
    Lists->RefillListB();
    RenumberList();
    if (n >= 2)
        ListB->SetFirstVisibleRow(firstRow);
}

void TForm2::DeleteSelectedEntries() {
    Lists->DeleteSelectedEntries();
}

void TForm2::ListBClick() {
    SetCurrentIndex(Lists->HighlightedRow());
}

void TForm2::ListBKeyDown(int key, Qt::KeyboardModifiers) {
    // A modifier pressed alone is the start of a shortcut (Ctrl+L, Ctrl+Up),
    // not a key of the list: it must not copy a missing highlight over the
    // current entry the shortcut is about to use. Any other key makes the
    // highlighted row the current entry first.
    const bool modifierAlone = key == Qt::Key_Control || key == Qt::Key_Shift ||
                               key == Qt::Key_Alt || key == Qt::Key_Meta || key == Qt::Key_AltGr ||
                               key == Qt::Key_Super_L || key == Qt::Key_Super_R;
    if (!modifierAlone)
        SetCurrentIndex(Lists->HighlightedRow());
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        Form1->PlayCurrentEntry();
        break;
    case Qt::Key_Control:
        CtrlDown = true;
        break;
    case Qt::Key_Delete:
        DeleteSelectedEntries();
        RenumberList();
        UpdateCaption();
        break;
    default:
        break;
    }
}

void TForm2::ListBKeyUp(int key, Qt::KeyboardModifiers) {
    if (key == Qt::Key_Control)
        CtrlDown = false;
}

void TForm2::ListBMouseDown(Qt::MouseButton) {
    if (EntryCount() == 0)
        return;
    // The list has already handled the press in the mode in force before it;
    // the mode for what follows is chosen by the Ctrl key seen in the list.
    DragOrigin = Lists->HighlightedRow();
    Lists->SetMultiSelect(CtrlDown);
}

void TForm2::ListBMouseUp(Qt::MouseButton button) {
    if (EntryCount() == 0 || button != Qt::LeftButton || CtrlDown)
        return;
    // The highlight has followed the pointer while the button was held, so
    // it names the row the entry was dropped on.
    const int target = Lists->HighlightedRow();
    if (DragOrigin < 0 || DragOrigin >= EntryCount() || target < 0)
        return;
    Lists->MoveEntry(DragOrigin, target);
    RenumberList();
    Lists->SetSelectedB(target, true);
    Lists->SetSelectedA(target, true);
}
