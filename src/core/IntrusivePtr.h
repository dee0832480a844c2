#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace qm {

// A base holding an atomic reference count for IntrusivePtr<Derived>. The
// count lives in the object, so a pointer to it is one word and sharing costs
// no separate allocation. The last release deletes the object as a Derived;
// a Derived with a private destructor befriends ThreadSafeRefCounted<Derived>.
template <typename Derived>
class ThreadSafeRefCounted {
public:
    void retain() const noexcept { refs_.fetch_add(1, std::memory_order_relaxed); }
    void release() const noexcept {
        // acq_rel: the deleting thread must see every other owner's writes.
        if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete static_cast<const Derived*>(this);
    }
    // True when exactly one pointer holds the object, so that it may be
    // changed in place without another owner seeing it.
    bool isUnique() const noexcept { return refs_.load(std::memory_order_acquire) == 1; }

protected:
    ThreadSafeRefCounted() noexcept = default;
    // A copy is a new object: it starts unowned, whatever the original's count.
    ThreadSafeRefCounted(const ThreadSafeRefCounted&) noexcept {}
    ThreadSafeRefCounted& operator=(const ThreadSafeRefCounted&) = delete;
    ~ThreadSafeRefCounted() = default;

private:
    mutable std::atomic<uint32_t> refs_{0};
};

// A shared pointer to an object that counts its own references (through
// retain() and release()). Taking a raw pointer adds a reference, so a fresh
// object (count 0) is owned by the first IntrusivePtr made from it.
template <typename T>
class IntrusivePtr {
public:
    IntrusivePtr() noexcept = default;
    IntrusivePtr(std::nullptr_t) noexcept {}
    explicit IntrusivePtr(T* p) noexcept : p_(p) {
        if (p_) p_->retain();
    }
    IntrusivePtr(const IntrusivePtr& o) noexcept : p_(o.p_) {
        if (p_) p_->retain();
    }
    IntrusivePtr(IntrusivePtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ~IntrusivePtr() {
        if (p_) p_->release();
    }

    IntrusivePtr& operator=(const IntrusivePtr& o) noexcept {
        // Retain first: assigning a pointer to itself (or to an object the old
        // one keeps alive) must not free it.
        if (o.p_) o.p_->retain();
        if (p_) p_->release();
        p_ = o.p_;
        return *this;
    }
    IntrusivePtr& operator=(IntrusivePtr&& o) noexcept {
        if (this != &o) {
            T* old = std::exchange(p_, std::exchange(o.p_, nullptr));
            if (old) old->release();
        }
        return *this;
    }
    IntrusivePtr& operator=(std::nullptr_t) noexcept {
        reset();
        return *this;
    }

    void reset() noexcept {
        if (T* old = std::exchange(p_, nullptr)) old->release();
    }

    T* get() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    friend bool operator==(const IntrusivePtr& a, const IntrusivePtr& b) noexcept { return a.p_ == b.p_; }
    friend bool operator==(const IntrusivePtr& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }

private:
    T* p_ = nullptr;
};

}  // namespace qm
