#pragma once

#include <atomic>

// Single values that one thread writes while another reads them (a value the audio thread moves
// while the host saves the state, say) are accessed through these: each load and store is whole,
// and the plain field keeps the record copyable. Relaxed order is enough, as nothing else is
// published through them.
template <typename T>
inline T loadShared(const T& field) {
  return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_relaxed);
}

template <typename T>
inline void storeShared(T& field, T v) {
  std::atomic_ref<T>(field).store(v, std::memory_order_relaxed);
}
