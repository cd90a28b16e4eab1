// A COM-style safe array: one or more dimensions, each with its own lower bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace pullwire::com {

struct ArrayBound {
  std::int32_t lower_bound = 0;
  std::int32_t count = 0;

  friend bool operator==(const ArrayBound&, const ArrayBound&) = default;
};

template <typename T>
class SafeArray {
 public:
  SafeArray() = default;

  // A one-dimensional array whose first element has index `lower_bound`.
  explicit SafeArray(std::vector<T> items, std::int32_t lower_bound = 0)
      : bounds_{{lower_bound, static_cast<std::int32_t>(items.size())}}, items_(std::move(items)) {}

  // Any number of dimensions, elements default-constructed; the first dimension varies slowest.
  static SafeArray WithBounds(std::vector<ArrayBound> bounds) {
    SafeArray array;
    std::size_t total = bounds.empty() ? 0 : 1;
    for (const ArrayBound& b : bounds) total *= static_cast<std::size_t>(b.count < 0 ? 0 : b.count);
    array.bounds_ = std::move(bounds);
    array.items_.resize(total);
    return array;
  }

  std::size_t Dimensions() const { return bounds_.size(); }
  const std::vector<ArrayBound>& Bounds() const { return bounds_; }
  std::size_t size() const { return items_.size(); }

  // Bounds of dimension `dim` (0-based); an array without elements has UpperBound < LowerBound.
  std::int32_t LowerBound(std::size_t dim = 0) const { return bounds_.at(dim).lower_bound; }
  std::int32_t UpperBound(std::size_t dim = 0) const {
    return bounds_.at(dim).lower_bound + bounds_.at(dim).count - 1;
  }

  // Element `index` of a one-dimensional array; nullptr when the array has another shape or
  // the index lies outside its bounds (the caller raises "Subscript out of range").
  const T* Find(std::int32_t index) const {
    if (bounds_.size() != 1) return nullptr;
    const std::int64_t offset = std::int64_t{index} - bounds_[0].lower_bound;
    if (offset < 0 || offset >= bounds_[0].count) return nullptr;
    return &items_[static_cast<std::size_t>(offset)];
  }
  T* Find(std::int32_t index) {
    return const_cast<T*>(std::as_const(*this).Find(index));
  }

  // All elements in storage order, whatever the shape.
  const std::vector<T>& Items() const { return items_; }
  std::vector<T>& Items() { return items_; }

  friend bool operator==(const SafeArray&, const SafeArray&) = default;

 private:
  std::vector<ArrayBound> bounds_;
  std::vector<T> items_;
};

}  // namespace pullwire::com
