#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// A stored value: null, Boolean, number, text, array or dictionary. Whatever
// another program or an older version left under a key comes back as it is,
// so readers check the type of every element. Text is raw bytes.
using DefaultsValue = nlohmann::json;

// The settings of the schema (library/SettingsSchema.h): each names its key
// and the type of its value, and what an unset value, or one of another type,
// reads as.
struct BoolSetting {
    std::string_view key;
    bool fallback;
};
// Empty text reads as the fallback too.
struct TextSetting {
    std::string_view key;
    std::string_view fallback;
};
// A whole number; one outside [min, max] reads as the fallback.
struct IntSetting {
    std::string_view key;
    int64_t fallback;
    int64_t min;
    int64_t max;
};
// An array of text; elements of other types are skipped. Unset reads as empty.
struct TextListSetting {
    std::string_view key;
};

// The persistent per-user key-value store. Values are written when they
// change; nothing is saved at quit. Callable from any thread (the ingest reads
// and writes on its queue while the main thread saves pins), so
// implementations synchronise internally. Nothing throws.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;

    // None when the key is unset.
    virtual std::optional<DefaultsValue> value(std::string_view key) const = 0;
    virtual void setValue(std::string_view key, const DefaultsValue& value) = 0;
    virtual void removeValue(std::string_view key) = 0;

    // The settings of the schema, typed.
    bool get(const BoolSetting& setting) const;
    std::string get(const TextSetting& setting) const;
    int64_t get(const IntSetting& setting) const;
    std::vector<std::string> get(const TextListSetting& setting) const;
    void set(const BoolSetting& setting, bool value);
    void set(const TextSetting& setting, std::string_view value);
    void set(const IntSetting& setting, int64_t value);
    void set(const TextListSetting& setting, const std::vector<std::string>& value);
};

}  // namespace qm
