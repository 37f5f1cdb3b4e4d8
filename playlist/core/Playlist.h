#pragma once

#include "platform/PathNames.h"
#include "playlist/core/PathList.h"

#include <QAbstractListModel>
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <vector>

// A failure of a list operation, such as "List index out of bounds (5)".
class EListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The playlist: the hidden list of full paths (ListA) and the visible list of
// numbered display lines (ListB), held side by side so that line i of each
// always belongs to the same entry.
//
// ListA carries its lines, its item index (the current entry) and a selection
// flag per line. ListB carries a display line per entry, its own item index
// (the highlighted row) and its own flags. A ListB line is the entry's number
// followed by ". " and its display name; a line added since the last
// RenumberList shows the bare name until the next renumbering, and lines
// after a removal keep their old numbers until then.
//
// In single selection a list's selected row is its item index; in
// multi-selection the flags are free and the item index is the focus row.
//
// The model serves ListB's lines to the view; the view keeps its own scroll
// position across every change, as a list box does.
class Playlist : public QAbstractListModel {
    Q_OBJECT
public:
    enum Roles { SelectedRole = Qt::UserRole + 1, HighlightRole };

    explicit Playlist(QObject* parent = nullptr);

    // --- the operations the rest of the program uses ---
    int EntryCount() const { return int(paths_.size()); }
    QByteArray EntryPath(int i) const; // throws EListError
    int CurrentIndex() const { return indexA_; }
    void SetCurrentIndex(int i);
    void AppendEntry(const QByteArray& path);
    void AppendEntries(PathList paths);
    void RemoveEntry(int i);
    void ClearEntries();
    void RenumberList();
    QString StatusLine() const; // "Play List: N items"

    // --- ListB ---
    int HighlightedRow() const { return indexB_; }
    void SetHighlightedRow(int row);
    QString DisplayLine(int i) const;
    int LineNumber(int i) const { return numbers_[size_t(i)]; } // 0 while provisional

    // --- selection ---
    bool MultiSelect() const { return multi_; }
    void SetMultiSelect(bool on);
    bool SelectedA(int i) const;
    bool SelectedB(int i) const;
    void SetSelectedA(int i, bool on);
    void SetSelectedB(int i, bool on);
    void SetAllSelectedA(bool on);
    void SetAllSelectedB(bool on);
    // Multi-selection only: sets the ListB flags of rows first..last.
    void SetRangeSelectedB(int first, int last, bool on);
    // Multi-selection only: flips every ListB flag and gives each ListA line
    // the flag of its ListB row.
    void InvertSelectionFlags();
    int SelectedCountB() const;

    // Removes every entry whose ListB row is selected, from the last to the
    // first, keeping the current entry and highlight by the removal rule.
    void DeleteSelectedEntries();
    // Moves the entry at `from` to index `to`; the entries between shift.
    void MoveEntry(int from, int to);
    // Exchanges two entries in ListA; the current entry travels with its line.
    void ExchangeEntriesA(int i, int j);
    // Rebuilds every ListB line from ListA (provisional, unnumbered).
    void RefillListB();

    const PathList& Paths() const { return paths_; }

    // QAbstractListModel
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex index(int row, int column = 0,
                      const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

signals:
    void highlightChanged(int row);

private:
    enum Flag : uint8_t { SelA = 1, SelB = 2 };
    void removeMarked(std::vector<uint8_t>& gone, int count);
    void emitRowChanged(int row);

    PathList paths_;
    std::vector<int32_t> numbers_;
    std::vector<uint8_t> flags_;
    int indexA_ = -1;
    int indexB_ = -1;
    bool multi_ = false;
};
