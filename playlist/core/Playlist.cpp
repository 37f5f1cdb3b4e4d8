#include "playlist/core/Playlist.h"

#include <algorithm>

Playlist::Playlist(QObject* parent) : QAbstractListModel(parent) {}

QByteArray Playlist::EntryPath(int i) const {
    if (i < 0 || i >= EntryCount())
        throw EListError(QStringLiteral("List index out of bounds (%1)").arg(i).toStdString());
    return paths_.at(size_t(i));
}

void Playlist::SetCurrentIndex(int i) {
    if (i < -1 || i >= EntryCount())
        i = -1;
    indexA_ = i;
    SetHighlightedRow(i);
}

void Playlist::SetHighlightedRow(int row) {
    if (row < -1 || row >= EntryCount())
        row = -1;
    if (row == indexB_)
        return;
    const int old = indexB_;
    indexB_ = row;
    emitRowChanged(old);
    emitRowChanged(row);
    emit highlightChanged(row);
}

void Playlist::AppendEntry(const QByteArray& path) {
    const int row = EntryCount();
    beginInsertRows(QModelIndex(), row, row);
    paths_.push_back(path);
    numbers_.push_back(0);
    flags_.push_back(0);
    endInsertRows();
}

void Playlist::AppendEntries(PathList paths) {
    if (paths.empty())
        return;
    const int first = EntryCount();
    beginInsertRows(QModelIndex(), first, first + int(paths.size()) - 1);
    // A list read from a file is taken over whole, text buffer and all.
    paths_.append(std::move(paths));
    numbers_.resize(paths_.size(), 0);
    flags_.resize(paths_.size(), 0);
    endInsertRows();
}

// The removal rule: an index before the removed line moves up by one, the
// removed line itself leaves no index, lines after it change nothing.
static int followRemoval(int index, int removed) {
    if (index == removed)
        return -1;
    return index > removed ? index - 1 : index;
}

void Playlist::RemoveEntry(int i) {
    if (i < 0 || i >= EntryCount())
        throw EListError(QStringLiteral("List index out of bounds (%1)").arg(i).toStdString());
    beginRemoveRows(QModelIndex(), i, i);
    paths_.erase(size_t(i));
    numbers_.erase(numbers_.begin() + i);
    flags_.erase(flags_.begin() + i);
    indexA_ = followRemoval(indexA_, i);
    const int oldB = indexB_;
    indexB_ = followRemoval(indexB_, i);
    endRemoveRows();
    if (oldB != indexB_)
        emit highlightChanged(indexB_);
}

void Playlist::ClearEntries() {
    beginResetModel();
    paths_.clear();
    numbers_.clear();
    flags_.clear();
    indexA_ = -1;
    indexB_ = -1;
    endResetModel();
    emit highlightChanged(-1);
}

void Playlist::RenumberList() {
    // Rewriting the lines of a list box clears its flags and its item index;
    // ListA, and with it the current entry, stays as it was.
    const int n = EntryCount();
    for (int i = 0; i < n; ++i) {
        numbers_[size_t(i)] = i + 1;
        flags_[size_t(i)] &= ~SelB;
    }
    const bool hadHighlight = indexB_ != -1;
    indexB_ = -1;
    if (n > 0)
        emit dataChanged(index(0), index(n - 1));
    if (hadHighlight)
        emit highlightChanged(-1);
}

QString Playlist::StatusLine() const {
    return QStringLiteral("Play List: %1 items").arg(EntryCount());
}

QString Playlist::DisplayLine(int i) const {
    const QString name = PathText(DisplayName(paths_.at(size_t(i))));
    const int number = numbers_[size_t(i)];
    return number > 0 ? QString::number(number) + QStringLiteral(". ") + name : name;
}

void Playlist::SetMultiSelect(bool on) {
    if (on == multi_)
        return;
    // Switching keeps each list's item index. Into multi-selection the
    // selected row (the item index) keeps its flag; back into single
    // selection only the item index stays selected, which is what single
    // selection means.
    if (on) {
        for (uint8_t& f : flags_)
            f = 0;
        if (indexA_ >= 0)
            flags_[size_t(indexA_)] |= SelA;
        if (indexB_ >= 0)
            flags_[size_t(indexB_)] |= SelB;
    }
    multi_ = on;
    if (!flags_.empty())
        emit dataChanged(index(0), index(EntryCount() - 1), {SelectedRole});
}

bool Playlist::SelectedA(int i) const {
    return multi_ ? (flags_[size_t(i)] & SelA) : i == indexA_;
}

bool Playlist::SelectedB(int i) const {
    return multi_ ? (flags_[size_t(i)] & SelB) : i == indexB_;
}

void Playlist::SetSelectedA(int i, bool on) {
    if (i < 0 || i >= EntryCount())
        return;
    if (!multi_) {
        // In single selection the selected line is the item index.
        if (on)
            indexA_ = i;
        else if (indexA_ == i)
            indexA_ = -1;
        return;
    }
    flags_[size_t(i)] = on ? (flags_[size_t(i)] | SelA) : (flags_[size_t(i)] & ~SelA);
}

void Playlist::SetSelectedB(int i, bool on) {
    if (i < 0 || i >= EntryCount())
        return;
    if (!multi_) {
        if (on)
            SetHighlightedRow(i);
        else if (indexB_ == i)
            SetHighlightedRow(-1);
        return;
    }
    flags_[size_t(i)] = on ? (flags_[size_t(i)] | SelB) : (flags_[size_t(i)] & ~SelB);
    emitRowChanged(i);
}

void Playlist::SetAllSelectedA(bool on) {
    if (!multi_) {
        if (!on)
            indexA_ = -1;
        else if (EntryCount() == 1)
            indexA_ = 0;
        return;
    }
    for (uint8_t& f : flags_)
        f = on ? (f | SelA) : (f & ~SelA);
}

void Playlist::SetAllSelectedB(bool on) {
    if (!multi_) {
        if (!on)
            SetHighlightedRow(-1);
        else if (EntryCount() == 1)
            SetHighlightedRow(0);
        return;
    }
    for (uint8_t& f : flags_)
        f = on ? (f | SelB) : (f & ~SelB);
    if (!flags_.empty())
        emit dataChanged(index(0), index(EntryCount() - 1), {SelectedRole});
}

void Playlist::SetRangeSelectedB(int first, int last, bool on) {
    if (!multi_ || EntryCount() == 0)
        return;
    first = std::clamp(first, 0, EntryCount() - 1);
    last = std::clamp(last, 0, EntryCount() - 1);
    if (first > last)
        std::swap(first, last);
    for (int i = first; i <= last; ++i)
        flags_[size_t(i)] = on ? (flags_[size_t(i)] | SelB) : (flags_[size_t(i)] & ~SelB);
    emit dataChanged(index(first), index(last), {SelectedRole});
}

void Playlist::InvertSelectionFlags() {
    if (!multi_ || flags_.empty())
        return;
    // One pass and one change signal: a signal per row would make inverting
    // a long list as slow as repainting it row by row.
    for (uint8_t& f : flags_)
        f = (f & SelB) ? 0 : (SelA | SelB);
    emit dataChanged(index(0), index(EntryCount() - 1), {SelectedRole});
}

int Playlist::SelectedCountB() const {
    if (!multi_)
        return indexB_ >= 0 ? 1 : 0;
    return int(std::count_if(flags_.begin(), flags_.end(), [](uint8_t f) { return f & SelB; }));
}

// Removes the entries marked in `gone` (`count` of them), keeping each
// list's item index on its entry by the removal rule.
void Playlist::removeMarked(std::vector<uint8_t>& gone, int count) {
    if (count == 0)
        return;
    // The new index of a surviving line is its old one less the removed
    // lines before it; one pass counts them for both item indexes.
    auto follow = [&](int index) {
        if (index < 0 || gone[size_t(index)])
            return -1;
        return index - int(std::count(gone.begin(), gone.begin() + index, uint8_t(1)));
    };
    const int newA = follow(indexA_);
    const int newB = follow(indexB_);
    const int oldB = indexB_;
    beginResetModel();
    size_t out = 0;
    const size_t n = gone.size();
    for (size_t i = 0; i < n; ++i) {
        if (gone[i])
            continue;
        numbers_[out] = numbers_[i];
        flags_[out] = flags_[i];
        ++out;
    }
    numbers_.resize(out);
    flags_.resize(out);
    // What stays is now marked, as the path store wants it.
    for (uint8_t& g : gone)
        g ^= 1;
    paths_.keepMarked(gone);
    indexA_ = newA;
    indexB_ = newB;
    endResetModel();
    if (oldB != indexB_)
        emit highlightChanged(indexB_);
}

void Playlist::DeleteSelectedEntries() {
    if (!multi_) {
        if (indexB_ >= 0)
            RemoveEntry(indexB_);
        return;
    }
    std::vector<uint8_t> gone(flags_.size());
    int count = 0;
    for (size_t i = 0; i < flags_.size(); ++i) {
        gone[i] = (flags_[i] & SelB) ? 1 : 0;
        count += gone[i];
    }
    removeMarked(gone, count);
}

void Playlist::MoveEntry(int from, int to) {
    const int n = EntryCount();
    if (from < 0 || from >= n || to < 0 || to >= n || from == to)
        return;
    auto rotate = [from, to](auto& v) {
        if (from < to)
            std::rotate(v.begin() + from, v.begin() + from + 1, v.begin() + to + 1);
        else
            std::rotate(v.begin() + to, v.begin() + from, v.begin() + from + 1);
    };
    // Taking a line out and inserting it again carries each list's item
    // index the way a list box does: by position, shifted over the move.
    auto follow = [from, to](int index) {
        if (index == from)
            return to;
        if (from < to && index > from && index <= to)
            return index - 1;
        if (to < from && index >= to && index < from)
            return index + 1;
        return index;
    };
    const int lo = std::min(from, to), hi = std::max(from, to);
    paths_.moveEntry(size_t(from), size_t(to));
    rotate(numbers_);
    rotate(flags_);
    indexA_ = follow(indexA_);
    const int oldB = indexB_;
    indexB_ = follow(indexB_);
    emit dataChanged(index(lo), index(hi));
    if (oldB != indexB_)
        emit highlightChanged(indexB_);
}

void Playlist::ExchangeEntriesA(int i, int j) {
    if (i == j)
        return;
    paths_.swapEntries(size_t(i), size_t(j));
    const uint8_t fi = flags_[size_t(i)] & SelA, fj = flags_[size_t(j)] & SelA;
    flags_[size_t(i)] = (flags_[size_t(i)] & ~SelA) | fj;
    flags_[size_t(j)] = (flags_[size_t(j)] & ~SelA) | fi;
    if (indexA_ == i)
        indexA_ = j;
    else if (indexA_ == j)
        indexA_ = i;
}

void Playlist::RefillListB() {
    // The same number of lines comes back, so the view is told that every
    // line changed rather than that the list was replaced: a million rows
    // then need no new layout.
    std::fill(numbers_.begin(), numbers_.end(), 0);
    for (uint8_t& f : flags_)
        f &= ~SelB;
    const int oldB = indexB_;
    indexB_ = -1;
    if (!paths_.empty())
        emit dataChanged(index(0), index(EntryCount() - 1));
    if (oldB != -1)
        emit highlightChanged(-1);
}

QModelIndex Playlist::index(int row, int column, const QModelIndex& parent) const {
    // The view asks for the index of every row when it lays out the list;
    // the base class would make two more virtual calls for each of them.
    if (row < 0 || row >= EntryCount() || column != 0 || parent.isValid())
        return {};
    return createIndex(row, column);
}

int Playlist::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : EntryCount();
}

QVariant Playlist::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= EntryCount())
        return {};
    const int row = index.row();
    switch (role) {
    case Qt::DisplayRole:
        return DisplayLine(row);
    case SelectedRole:
        return SelectedB(row);
    case HighlightRole:
        return row == indexB_;
    default:
        return {};
    }
}

void Playlist::emitRowChanged(int row) {
    if (row >= 0 && row < EntryCount())
        emit dataChanged(index(row), index(row));
}
