#pragma once

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

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

// The observer mechanism between model and views. Subscribers are held weakly:
// a released subscriber drops out by itself, so there is no unsubscribe.
// Main thread only. EventEmitter<> carries no payload; EventEmitter<T> passes a
// const T& to each callback.
template <typename T = void>
class EventEmitter {
public:
    using Callback = typename detail::EmitterCallback<T>::type;
    struct Record {
        std::weak_ptr<void> object;  // the subscriber; the record is dead once it is gone
        Callback fn;                 // should capture the subscriber weakly itself
    };

    EventEmitter() = default;
    EventEmitter(const EventEmitter&) = delete;
    EventEmitter& operator=(const EventEmitter&) = delete;

    // Appends a record; one object may subscribe several times.
    void subscribe(std::weak_ptr<void> object, Callback fn) {
        // An emission in progress holds the current list; leave it untouched so
        // that records added by a callback are not called in that emission.
        if (records_.use_count() > 1) records_ = std::make_shared<std::vector<Record>>(*records_);
        records_->push_back(Record{std::move(object), std::move(fn)});
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
            if (r.object.expired()) {
                auto pruned = std::make_shared<std::vector<Record>>();
                pruned->reserve(list.size());
                for (const Record& keep : list)
                    if (!keep.object.expired()) pruned->push_back(keep);
                records_ = std::move(pruned);
                break;
            }
        }
        // Holding the list keeps it (and each callback) alive even when a
        // callback subscribes, or destroys the emitter's owner.
        std::shared_ptr<std::vector<Record>> snapshot = records_;
        for (const Record& r : *snapshot) {
            if (r.object.expired() || !r.fn) continue;
            call(r.fn);
        }
    }

    std::shared_ptr<std::vector<Record>> records_ = std::make_shared<std::vector<Record>>();
};

}  // namespace qm
