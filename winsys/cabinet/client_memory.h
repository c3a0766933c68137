// Objects and arrays placed in memory that the caller's allocation callback
// hands out: the cabinet interfaces allocate nothing on their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

namespace winsys::cabinet {

// The caller's allocator pair, as FCICreate and FDICreate receive it.
struct ClientMemory {
    void* (*alloc)(uint32_t) = nullptr;
    void (*release)(void*) = nullptr;

    void* Allocate(size_t size) const {
        if (size > UINT32_MAX)
            return nullptr;
        return alloc(static_cast<uint32_t>(size));
    }
    void Free(void* p) const {
        if (p)
            release(p);
    }
    template <typename T, typename... Args>
    T* New(Args&&... args) const {
        void* p = Allocate(sizeof(T));
        return p ? new (p) T(std::forward<Args>(args)...) : nullptr;
    }
    template <typename T>
    void Delete(T* object) const {
        if (object) {
            object->~T();
            Free(object);
        }
    }
};

// A growable array of plain records in client memory.
template <typename T>
class ClientArray {
    static_assert(std::is_trivially_copyable_v<T>);

  public:
    explicit ClientArray(const ClientMemory& memory) : memory_(memory) {}
    ClientArray(const ClientArray&) = delete;
    ClientArray& operator=(const ClientArray&) = delete;
    ~ClientArray() { memory_.Free(items_); }

    bool Push(const T& item) {
        if (size_ == capacity_) {
            size_t grown = capacity_ ? capacity_ * 2 : 16;
            T* bigger = static_cast<T*>(memory_.Allocate(grown * sizeof(T)));
            if (!bigger)
                return false;
            if (size_)
                std::memcpy(bigger, items_, size_ * sizeof(T));
            memory_.Free(items_);
            items_ = bigger;
            capacity_ = grown;
        }
        items_[size_++] = item;
        return true;
    }
    void Clear() { size_ = 0; }
    size_t Size() const { return size_; }
    T& operator[](size_t i) { return items_[i]; }
    const T& operator[](size_t i) const { return items_[i]; }

  private:
    const ClientMemory& memory_;
    T* items_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

}  // namespace winsys::cabinet
