// Loads and stores of fields that another process may write at any moment.
//
// A plain access to such a field may be split, repeated or reordered by the
// compiler. These go through std::atomic_ref so that each is one load or one
// store, and so that the ring's publish and consume orderings hold: a slot is
// filled before the store that publishes it (release) and read only after the
// load that sees it published (acquire).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

namespace qv::shm {

template <typename T>
T LoadShared(const T& field) {
    return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_acquire);
}

template <typename T>
void StoreShared(T& field, T value) {
    std::atomic_ref<T>(field).store(value, std::memory_order_release);
}

// Little-endian u16 at any byte offset of a private copy of a record.
inline std::uint16_t ReadU16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

inline void WriteU16(std::uint8_t* bytes, std::uint16_t value) {
    bytes[0] = static_cast<std::uint8_t>(value & 0xFF);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

inline std::int32_t ReadI32(const std::uint8_t* bytes) {
    std::int32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

inline void WriteI32(std::uint8_t* bytes, std::int32_t value) {
    std::memcpy(bytes, &value, sizeof value);
}

}  // namespace qv::shm
