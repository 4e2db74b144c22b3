#pragma once

// An atomic shared_ptr or weak_ptr used only through operations that are
// correct on this toolchain's library. libstdc++ 12 guards the pointer with a
// lock bit and, in load() and in a failed compare-exchange with a weaker
// failure order, drops that bit without release ordering, so a later writer
// races with the read (ThreadSanitizer reports it). Every operation here is
// sequentially consistent, which releases; a load is a compare-exchange that
// leaves the value as it is.

#include <atomic>
#include <memory>
#include <utility>

namespace ble::bluez {

template <class Pointer> class AtomicPointer {
public:
  AtomicPointer() = default;
  explicit AtomicPointer(Pointer value) : value_(std::move(value)) {}
  AtomicPointer(const AtomicPointer &) = delete;
  AtomicPointer &operator=(const AtomicPointer &) = delete;

  Pointer Load() const {
    Pointer seen;
    // Fails and fills seen with the current value, or finds it empty and
    // stores empty again.
    value_.compare_exchange_strong(seen, seen, std::memory_order_seq_cst, std::memory_order_seq_cst);
    return seen;
  }
  void Store(Pointer value) { value_.store(std::move(value), std::memory_order_seq_cst); }
  Pointer Exchange(Pointer value) { return value_.exchange(std::move(value), std::memory_order_seq_cst); }
  // On failure expected becomes the current value. Pointers compare by owner
  // too, and expected keeps its owner alive, so an equal value is the same
  // object, never a reused address.
  bool CompareExchange(Pointer &expected, Pointer desired) {
    return value_.compare_exchange_strong(expected, std::move(desired), std::memory_order_seq_cst,
                                          std::memory_order_seq_cst);
  }

private:
  mutable std::atomic<Pointer> value_;
};

} // namespace ble::bluez
