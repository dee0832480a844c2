#pragma once

#include <absl/base/thread_annotations.h>

#include <map>

#include "core/Mutex.h"
#include "library/UserDefaults.h"

namespace qm {

// User defaults held in memory, for tests and as a fallback. Thread-safe.
class MemoryUserDefaults final : public UserDefaults {
public:
    std::optional<DefaultsValue> value(std::string_view key) const override {
        MutexLock lock(mutex_);
        auto it = values_.find(key);
        if (it == values_.end()) return std::nullopt;
        return it->second;
    }
    void setValue(std::string_view key, const DefaultsValue& value) override {
        MutexLock lock(mutex_);
        values_.insert_or_assign(std::string(key), value);
    }
    void removeValue(std::string_view key) override {
        MutexLock lock(mutex_);
        auto it = values_.find(key);
        if (it != values_.end()) values_.erase(it);
    }

private:
    mutable Mutex mutex_;
    std::map<std::string, DefaultsValue, std::less<>> values_ ABSL_GUARDED_BY(mutex_);
};

}  // namespace qm
