#pragma once

#include <absl/base/thread_annotations.h>

#include <map>
#include <mutex>

#include "library/UserDefaults.h"

namespace qm {

// User defaults held in memory, for tests and as a fallback. Thread-safe.
class MemoryUserDefaults final : public UserDefaults {
public:
    std::optional<DefaultsValue> value(std::string_view key) const override {
        std::lock_guard lock(mutex_);
        auto it = values_.find(key);
        if (it == values_.end()) return std::nullopt;
        return it->second;
    }
    void setValue(std::string_view key, const DefaultsValue& value) override {
        std::lock_guard lock(mutex_);
        values_.insert_or_assign(std::string(key), value);
    }
    void removeValue(std::string_view key) override {
        std::lock_guard lock(mutex_);
        auto it = values_.find(key);
        if (it != values_.end()) values_.erase(it);
    }

private:
    mutable std::mutex mutex_;
    std::map<std::string, DefaultsValue, std::less<>> values_ ABSL_GUARDED_BY(mutex_);
};

}  // namespace qm
