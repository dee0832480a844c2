#pragma once

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/Subscription.h"

namespace qm {

namespace detail {
template <typename T>
struct EmitterCallback {
    using type = std::function<void(const T&)>;
};
template <>
struct EmitterCallback<void> {
    using type = std::function<void()>;
};
}  // namespace detail

// The observer mechanism between model and views. Each subscription is a
// Subscription handle held by the subscriber; the emitter holds the callback
// only weakly, so a released subscriber drops out by itself.
// Main thread only. EventEmitter<> carries no payload; EventEmitter<T> passes a
// const T& to each callback.
template <typename T = void>
class EventEmitter {
public:
    using Callback = typename detail::EmitterCallback<T>::type;
    struct Record {
        // Owned by the subscriber's handle; the record is dead once it is gone.
        std::weak_ptr<const Callback> fn;
    };

    EventEmitter() = default;
    EventEmitter(const EventEmitter&) = delete;
    EventEmitter& operator=(const EventEmitter&) = delete;

    // Appends a record, live while the returned handle is; one subscriber may
    // subscribe several times.
    [[nodiscard]] Subscription subscribe(Callback fn) {
        auto callback = std::make_shared<const Callback>(std::move(fn));
        // An emission in progress holds the current list; leave it untouched so
        // that records added by a callback are not called in that emission.
        if (records_.use_count() > 1) records_ = std::make_shared<std::vector<Record>>(*records_);
        records_->push_back(Record{callback});
        return Subscription(std::move(callback));
    }

    // Calls every live record in subscription order. Dead records are pruned
    // first (allocating only then); records added meanwhile wait for the next
    // emission. A subscriber released during the emission is not called.
    template <typename U = T>
    requires std::is_void_v<U>
    void emit() {
        run([](const Callback& fn) { fn(); });
    }
    template <typename U = T>
    requires(!std::is_void_v<U>) void emit(const U& payload) {
        run([&payload](const Callback& fn) { fn(payload); });
    }

    // Records held, dead ones included until the next emission prunes them.
    size_t recordCount() const { return records_->size(); }

private:
    template <typename Call>
    void run(const Call& call) {
        const auto& list = *records_;
        for (const Record& r : list) {
            if (r.fn.expired()) {
                auto pruned = std::make_shared<std::vector<Record>>();
                pruned->reserve(list.size());
                for (const Record& keep : list)
                    if (!keep.fn.expired()) pruned->push_back(keep);
                records_ = std::move(pruned);
                break;
            }
        }
        // Holding the list keeps it alive even when a callback subscribes, or
        // destroys the emitter's owner; holding the callback keeps it alive
        // while it runs, even when it ends its own subscription.
        std::shared_ptr<std::vector<Record>> snapshot = records_;
        for (const Record& r : *snapshot) {
            std::shared_ptr<const Callback> fn = r.fn.lock();
            if (fn && *fn) call(*fn);
        }
    }

    std::shared_ptr<std::vector<Record>> records_ = std::make_shared<std::vector<Record>>();
};

}  // namespace qm
