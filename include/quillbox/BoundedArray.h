#pragma once
// Arrays as the host passes them: explicit lower and upper bounds (both inclusive),
// not necessarily starting at 0. An empty array has upper bound lower - 1.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillbox {

template <class T>
class BoundedArray {
 public:
  BoundedArray() = default;
  BoundedArray(int32_t lower, int32_t upper) : lower_(lower) {
    if (upper < lower - 1) throw std::invalid_argument("BoundedArray: upper bound below lower - 1");
    data_.resize(static_cast<std::size_t>(static_cast<int64_t>(upper) - lower + 1));
  }
  BoundedArray(std::initializer_list<T> values, int32_t lower = 0) : lower_(lower), data_(values) {}
  static BoundedArray FromVector(std::vector<T> values, int32_t lower = 0) {
    BoundedArray a;
    a.lower_ = lower;
    a.data_ = std::move(values);
    return a;
  }

  int32_t LBound() const { return lower_; }
  int32_t UBound() const { return lower_ + static_cast<int32_t>(data_.size()) - 1; }
  std::size_t size() const { return data_.size(); }
  bool empty() const { return data_.empty(); }

  // Bound-checked element access by the array's own index.
  T& operator()(int32_t i) { return data_.at(Offset(i)); }
  const T& operator()(int32_t i) const { return data_.at(Offset(i)); }
  bool Contains(int32_t i) const { return i >= lower_ && i <= UBound(); }

  T* data() { return data_.data(); }
  const T* data() const { return data_.data(); }
  auto begin() { return data_.begin(); }
  auto end() { return data_.end(); }
  auto begin() const { return data_.begin(); }
  auto end() const { return data_.end(); }
  const std::vector<T>& values() const { return data_; }

  bool operator==(const BoundedArray&) const = default;

 private:
  std::size_t Offset(int32_t i) const {
    if (!Contains(i)) throw std::out_of_range("BoundedArray: index " + std::to_string(i));
    return static_cast<std::size_t>(static_cast<int64_t>(i) - lower_);
  }
  int32_t lower_ = 0;
  std::vector<T> data_;
};

// Two-dimensional array (first index, second index); the first index runs fastest in
// memory, so one "column" (fixed second index) is contiguous.
template <class T>
class BoundedArray2D {
 public:
  BoundedArray2D() = default;
  BoundedArray2D(int32_t lower1, int32_t upper1, int32_t lower2, int32_t upper2)
      : lower1_(lower1), lower2_(lower2), n1_(Extent(lower1, upper1)), n2_(Extent(lower2, upper2)) {
    data_.resize(n1_ * n2_);
  }

  int32_t LBound(int dim) const { return dim == 1 ? lower1_ : lower2_; }
  int32_t UBound(int dim) const {
    return dim == 1 ? lower1_ + static_cast<int32_t>(n1_) - 1
                    : lower2_ + static_cast<int32_t>(n2_) - 1;
  }
  std::size_t Extent1() const { return n1_; }
  std::size_t Extent2() const { return n2_; }
  std::size_t size() const { return data_.size(); }
  bool empty() const { return data_.empty(); }

  T& operator()(int32_t i, int32_t j) { return data_.at(Offset(i, j)); }
  const T& operator()(int32_t i, int32_t j) const { return data_.at(Offset(i, j)); }
  // Start of column j (all first-index elements of one second index).
  T* Column(int32_t j) { return data_.data() + Offset(lower1_, j); }
  const T* Column(int32_t j) const { return data_.data() + Offset(lower1_, j); }

  T* data() { return data_.data(); }
  const T* data() const { return data_.data(); }

  bool operator==(const BoundedArray2D&) const = default;

 private:
  static std::size_t Extent(int32_t lower, int32_t upper) {
    if (upper < lower - 1)
      throw std::invalid_argument("BoundedArray2D: upper bound below lower - 1");
    return static_cast<std::size_t>(static_cast<int64_t>(upper) - lower + 1);
  }
  std::size_t Offset(int32_t i, int32_t j) const {
    const int64_t a = static_cast<int64_t>(i) - lower1_;
    const int64_t b = static_cast<int64_t>(j) - lower2_;
    if (a < 0 || b < 0 || a >= static_cast<int64_t>(n1_) || b >= static_cast<int64_t>(n2_))
      throw std::out_of_range("BoundedArray2D: index (" + std::to_string(i) + ", " +
                              std::to_string(j) + ")");
    return static_cast<std::size_t>(a) + static_cast<std::size_t>(b) * n1_;
  }
  int32_t lower1_ = 0;
  int32_t lower2_ = 0;
  std::size_t n1_ = 0;
  std::size_t n2_ = 0;
  std::vector<T> data_;
};

}  // namespace quillbox
