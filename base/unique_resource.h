// The one move-only owner of an OS resource. What a resource is, which value
// means "none" and how it is released is said by a traits type:
//
//   struct Traits {
//     using Handle = ...;                  // the raw value
//     static Handle None();                // the value an empty owner holds
//     static bool IsValid(Handle handle);  // whether `handle` must be released
//     void Close(Handle handle) const;     // releases a valid handle
//   };
//
// Traits may carry state (the interface that made a handle, the window a DC
// belongs to); the owner keeps a copy beside the handle and releases through
// it. Stateless traits take no space. Close is called once per valid handle:
// at Reset, at destruction, or when a moved-into owner gives up what it held.
//
// Threads: an owner is used by one thread at a time, like the resource it
// holds; handing it to another thread needs the usual happens-before.
#ifndef VELQA_BASE_UNIQUE_RESOURCE_H_
#define VELQA_BASE_UNIQUE_RESOURCE_H_

#include <utility>

namespace velqa::base {

template <typename Traits>
class UniqueResource {
 public:
  using Handle = typename Traits::Handle;

  UniqueResource() = default;
  explicit UniqueResource(Handle handle, Traits traits = Traits())
      : handle_(handle), traits_(std::move(traits)) {}
  ~UniqueResource() { Reset(); }

  UniqueResource(UniqueResource&& other) noexcept
      : handle_(other.Release()), traits_(std::move(other.traits_)) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) {
      Reset(other.Release());
      traits_ = std::move(other.traits_);
    }
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;

  Handle get() const { return handle_; }
  bool is_valid() const { return Traits::IsValid(handle_); }
  explicit operator bool() const { return is_valid(); }
  const Traits& traits() const { return traits_; }

  // Gives the handle up without releasing it; the owner is empty afterwards.
  [[nodiscard]] Handle Release() { return std::exchange(handle_, Traits::None()); }

  // Releases the current handle (if valid) and takes `handle` instead. The
  // handle already held is kept open: closing it here would leave the owner
  // holding a closed handle, to be closed again later (by then perhaps
  // another resource's reused value).
  void Reset(Handle handle = Traits::None()) {
    if (handle == handle_) return;
    const Handle old = std::exchange(handle_, handle);
    if (Traits::IsValid(old)) traits_.Close(old);
  }

 private:
  Handle handle_ = Traits::None();
  [[no_unique_address]] Traits traits_{};
};

}  // namespace velqa::base

#endif  // VELQA_BASE_UNIQUE_RESOURCE_H_
