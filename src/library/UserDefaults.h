#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace qm {

// A stored value: null, Boolean, number, text, array or dictionary. Whatever
// another program or an older version left under a key comes back as it is,
// so readers check the type of every element. Text is raw bytes.
using DefaultsValue = nlohmann::json;

// The persistent per-user key-value store: "pins" (array of text),
// "hasBeenLaunched" (Boolean), "theme" (number). Values are written when they
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

    // False when unset or not a Boolean.
    bool boolForKey(std::string_view key) const {
        auto v = value(key);
        return v && v->is_boolean() && v->get<bool>();
    }
};

}  // namespace qm
