// Move-only owner of a handle obtained through a seam: the handle is given
// back through the same seam object when the owner goes out of scope.
#pragma once

#include <utility>

namespace ravitor {

template <typename Seam, typename Handle, void (Seam::*Close)(Handle)>
class UniqueHandleOf {
 public:
  UniqueHandleOf() = default;
  UniqueHandleOf(Seam& seam, Handle handle) : seam_(&seam), handle_(handle) {}
  UniqueHandleOf(UniqueHandleOf&& other) noexcept
      : seam_(other.seam_), handle_(std::exchange(other.handle_, Handle{})) {}
  UniqueHandleOf& operator=(UniqueHandleOf&& other) noexcept {
    if (this != &other) {
      reset();
      seam_ = other.seam_;
      handle_ = std::exchange(other.handle_, Handle{});
    }
    return *this;
  }
  UniqueHandleOf(const UniqueHandleOf&) = delete;
  UniqueHandleOf& operator=(const UniqueHandleOf&) = delete;
  ~UniqueHandleOf() { reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Handle{}; }

  void reset() {
    if (handle_ != Handle{}) (seam_->*Close)(std::exchange(handle_, Handle{}));
  }

 private:
  Seam* seam_ = nullptr;
  Handle handle_{};
};

}  // namespace ravitor
