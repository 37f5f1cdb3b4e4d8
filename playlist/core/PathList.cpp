#include "playlist/core/PathList.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

PathList::PathList(std::initializer_list<QByteArrayView> paths) {
    for (QByteArrayView p : paths)
        push_back(p);
}

PathList::PathList(const std::vector<QByteArray>& paths) {
    size_t bytes = 0;
    for (const QByteArray& p : paths)
        bytes += size_t(p.size());
    reserve(paths.size(), bytes);
    for (const QByteArray& p : paths)
        push_back(p);
}

std::vector<QByteArray> PathList::toVector() const {
    std::vector<QByteArray> paths;
    paths.reserve(size());
    for (size_t i = 0; i < size(); ++i)
        paths.push_back(at(i));
    return paths;
}

PathList::PathList(const PathList& other) : spans_(other.spans_) {
    reallocate(other.used_);
    if (other.used_)
        std::memcpy(text_, other.text_, other.used_);
    used_ = other.used_;
}

PathList& PathList::operator=(const PathList& other) {
    if (this != &other) {
        PathList copy(other);
        *this = std::move(copy);
    }
    return *this;
}

PathList::PathList(PathList&& other) noexcept
    : text_(std::exchange(other.text_, nullptr)), used_(std::exchange(other.used_, 0)),
      capacity_(std::exchange(other.capacity_, 0)), spans_(std::move(other.spans_)) {
    other.spans_.clear();
}

PathList& PathList::operator=(PathList&& other) noexcept {
    if (this != &other) {
        std::free(text_);
        text_ = std::exchange(other.text_, nullptr);
        used_ = std::exchange(other.used_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        spans_ = std::move(other.spans_);
        other.spans_.clear();
    }
    return *this;
}

PathList::~PathList() {
    std::free(text_);
}

// realloc, not new[]: a large block grows by remapping its pages instead of
// being copied, and the new part is not cleared before it is written.
void PathList::reallocate(size_t capacity) {
    if (capacity == capacity_)
        return;
    if (capacity == 0) {
        std::free(text_);
        text_ = nullptr;
        capacity_ = 0;
        return;
    }
    char* grown = static_cast<char*>(std::realloc(text_, capacity));
    if (!grown)
        throw std::bad_alloc();
    text_ = grown;
    capacity_ = capacity;
}

char* PathList::growText(size_t count) {
    if (capacity_ - used_ < count)
        reallocate(std::max(used_ + count, capacity_ + capacity_ / 2));
    return text_ + used_;
}

void PathList::shrinkText() {
    reallocate(used_);
}

void PathList::reserve(size_t entries, size_t bytes) {
    spans_.reserve(entries);
    if (capacity_ - used_ < bytes)
        reallocate(used_ + bytes);
}

void PathList::push_back(QByteArrayView path) {
    const size_t length = size_t(path.size());
    char* at = growText(length);
    if (length)
        std::memcpy(at, path.data(), length);
    spans_.push_back({used_, uint32_t(length)});
    used_ += length;
}

void PathList::append(PathList&& other) {
    if (spans_.empty() && used_ == 0) {
        *this = std::move(other);
        return;
    }
    const size_t base = used_;
    char* at = growText(other.used_);
    if (other.used_)
        std::memcpy(at, other.text_, other.used_);
    used_ += other.used_;
    spans_.reserve(spans_.size() + other.spans_.size());
    for (const Span& s : other.spans_)
        spans_.push_back({base + s.offset, s.length});
    other.clear();
}

void PathList::clear() {
    spans_ = {};
    reallocate(0);
    used_ = 0;
}

void PathList::moveEntry(size_t from, size_t to) {
    if (from < to)
        std::rotate(spans_.begin() + ptrdiff_t(from), spans_.begin() + ptrdiff_t(from) + 1,
                    spans_.begin() + ptrdiff_t(to) + 1);
    else if (to < from)
        std::rotate(spans_.begin() + ptrdiff_t(to), spans_.begin() + ptrdiff_t(from),
                    spans_.begin() + ptrdiff_t(from) + 1);
}

void PathList::keepMarked(const std::vector<uint8_t>& keep) {
    size_t out = 0, live = 0;
    for (size_t i = 0; i < spans_.size(); ++i) {
        if (!keep[i])
            continue;
        live += spans_[i].length;
        spans_[out++] = spans_[i];
    }
    spans_.resize(out);
    if (out == 0) {
        clear();
        return;
    }
    // Squeeze the text only when most of it is dead: removing a few entries
    // then costs nothing, and a list cut to a tenth gives its memory back.
    if (used_ - live <= live || used_ - live < (1u << 20))
        return;
    char* packed = static_cast<char*>(std::malloc(live ? live : 1));
    if (!packed)
        return; // keeping the dead bytes is no fault
    size_t at = 0;
    for (Span& s : spans_) {
        std::memcpy(packed + at, text_ + s.offset, s.length);
        s.offset = at;
        at += s.length;
    }
    std::free(text_);
    text_ = packed;
    used_ = capacity_ = live;
    spans_.shrink_to_fit();
}

bool operator==(const PathList& a, const PathList& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return false;
    return true;
}
