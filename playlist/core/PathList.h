#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <vector>

// The paths of a playlist, held compactly: the bytes of every path lie in one
// buffer, and an entry is only where its bytes start and how many there are.
// A million paths are then a million small records beside their text instead
// of a million separate allocations, each with its own header and rounding.
//
// Entries are reordered and removed by moving their records alone; the bytes
// of removed paths stay in the buffer until they outweigh the live ones, and
// are then squeezed out in one pass.
class PathList {
public:
    PathList() = default;
    PathList(std::initializer_list<QByteArrayView> paths);
    // So that code that gathers paths in a vector hands them on as they are.
    PathList(const std::vector<QByteArray>& paths);
    PathList(const PathList& other);
    PathList& operator=(const PathList& other);
    PathList(PathList&& other) noexcept;
    PathList& operator=(PathList&& other) noexcept;
    ~PathList();

    size_t size() const { return spans_.size(); }
    bool empty() const { return spans_.empty(); }
    // The bytes of entry i, valid until the list next changes.
    QByteArrayView operator[](size_t i) const {
        return QByteArrayView(text_ + spans_[i].offset, qsizetype(spans_[i].length));
    }
    QByteArray at(size_t i) const { return (*this)[i].toByteArray(); }

    void push_back(QByteArrayView path);
    void append(PathList&& other);
    void clear();
    void reserve(size_t entries, size_t bytes);

    void erase(size_t i) { spans_.erase(spans_.begin() + std::ptrdiff_t(i)); }
    void swapEntries(size_t i, size_t j) { std::swap(spans_[i], spans_[j]); }
    // Moves entry `from` to index `to`; the entries between shift by one.
    void moveEntry(size_t from, size_t to);
    // Keeps the entries whose `keep` byte is non-zero, in their order.
    void keepMarked(const std::vector<uint8_t>& keep);

    // Bytes held for the paths, removed ones included, and bytes reserved.
    size_t textBytes() const { return used_; }
    size_t capacityBytes() const { return capacity_; }
    size_t heapBytes() const { return capacity_ + spans_.capacity() * sizeof(Span); }

    // For readers that fill the buffer themselves: room for `count` more
    // bytes at the end of the text, then how many of them were used, then
    // entries made of bytes that are already in the text.
    char* growText(size_t count);
    void commitText(size_t count) { used_ += count; }
    const char* text() const { return text_; }
    void addSpan(size_t offset, size_t length) { spans_.push_back({offset, uint32_t(length)}); }
    void reserveEntries(size_t entries) { spans_.reserve(entries); }
    // Gives back buffer space that the text does not use.
    void shrinkText();

    // Iterates over copies of the paths, for code that wants QByteArrays;
    // operator[] gives the bytes without a copy.
    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = QByteArray;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = QByteArray;
        const_iterator(const PathList* list, size_t i) : list_(list), i_(i) {}
        QByteArray operator*() const { return list_->at(i_); }
        const_iterator& operator++() {
            ++i_;
            return *this;
        }
        const_iterator operator++(int) {
            const_iterator old = *this;
            ++i_;
            return old;
        }
        bool operator==(const const_iterator& other) const { return i_ == other.i_; }
        bool operator!=(const const_iterator& other) const { return i_ != other.i_; }

    private:
        const PathList* list_;
        size_t i_;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }
    std::vector<QByteArray> toVector() const;

    friend bool operator==(const PathList& a, const PathList& b);

private:
    struct Span {
        uint64_t offset;
        uint32_t length;
    };
    void reallocate(size_t capacity);

    char* text_ = nullptr;
    size_t used_ = 0;
    size_t capacity_ = 0;
    std::vector<Span> spans_;
};
