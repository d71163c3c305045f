#pragma once

#include "ErrorHandling.h"

#include <functional>
#include <utility>
#include <vector>

// Growable array. A full Vec grows to floor(1.25 * size) + 8, and every index is
// checked: an index outside 0 .. size-1 raises InvalidArgumentException (code 6).
template <class T> class Vec {
public:
    Vec() = default;
    explicit Vec(int count) : items(checkedCount(count)) {}
    Vec(std::initializer_list<T> init) : items(init) {}

    int size() const { return static_cast<int>(items.size()); }
    int capacity() const { return static_cast<int>(items.capacity()); }
    bool isEmpty() const { return items.empty(); }

    T& operator[](int index) { return items[checkedIndex(index)]; }
    const T& operator[](int index) const { return items[checkedIndex(index)]; }
    T& last() { return (*this)[size() - 1]; }
    const T& last() const { return (*this)[size() - 1]; }

    T* data() { return items.data(); }
    const T* data() const { return items.data(); }
    T* begin() { return items.data(); }
    T* end() { return items.data() + items.size(); }
    const T* begin() const { return items.data(); }
    const T* end() const { return items.data() + items.size(); }

    // value may be an element of this Vec: copy it before growing moves the elements.
    void append(const T& value) { append(T(value)); }
    void append(T&& value) {
        growForOneMore();
        items.push_back(std::move(value));
    }
    void append(const T* values, int count) {
        if (overlapsItems(values, checkedCount(count))) {
            std::vector<T> copy(values, values + count);
            append(copy.data(), count);
            return;
        }
        reserve(size() + count);
        items.insert(items.end(), values, values + count);
    }
    void removeLast() {
        checkedIndex(size() - 1);
        items.pop_back();
    }
    void removeAt(int index) { items.erase(items.begin() + checkedIndex(index)); }
    void insert(int index, const T& value) {
        if (index != size()) checkedIndex(index);
        T copy(value);
        growForOneMore();
        items.insert(items.begin() + index, std::move(copy));
    }
    // Grows with default values or shrinks to exactly count elements.
    void resize(int count) { items.resize(checkedCount(count)); }
    void reserve(int count) { items.reserve(checkedCount(count)); }
    void clear() { items.clear(); }

    bool operator==(const Vec& other) const { return items == other.items; }

private:
    void growForOneMore() {
        if (items.size() == items.capacity()) items.reserve(items.size() + items.size() / 4 + 8);
    }
    int checkedIndex(int index) const {
        if (index < 0 || index >= size()) raiseIndexError(index, size());
        return index;
    }
    bool overlapsItems(const T* values, int count) const {
        std::less<const T*> before;
        return count > 0 && before(values, end()) && before(begin(), values + count);
    }
    static int checkedCount(int count) {
        if (count < 0) raiseIndexError(count, 0);
        return count;
    }

    std::vector<T> items;
};
