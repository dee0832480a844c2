#pragma once

#include <memory>
#include <utility>

namespace qm {

template <typename T>
class EventEmitter;

// One subscriber's place on an emitter, returned by EventEmitter::subscribe.
// While the handle lives, the callback is called on each emission; destroying
// or resetting it ends the subscription at once, and the callback (with what
// it captured) is released then. A subscriber keeps its handles as members,
// so it drops out by itself when it goes, and its callbacks may capture `this`.
// Move-only; the handle may outlive its emitter. Main thread only, like the
// emitters.
class [[nodiscard]] Subscription {
public:
    Subscription() = default;
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    Subscription(Subscription&&) noexcept = default;
    // Ends the subscription held before.
    Subscription& operator=(Subscription&&) noexcept = default;
    ~Subscription() = default;

    void reset() noexcept { callback_.reset(); }
    bool isActive() const noexcept { return callback_ != nullptr; }

private:
    template <typename T>
    friend class EventEmitter;
    explicit Subscription(std::shared_ptr<const void> callback) : callback_(std::move(callback)) {}

    // The only strong reference to the callback; the emitter holds it weakly.
    std::shared_ptr<const void> callback_;
};

}  // namespace qm
