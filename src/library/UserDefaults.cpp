#include "library/UserDefaults.h"

namespace qm {

bool UserDefaults::get(const BoolSetting& setting) const {
    auto v = value(setting.key);
    return v && v->is_boolean() ? v->get<bool>() : setting.fallback;
}

std::string UserDefaults::get(const TextSetting& setting) const {
    auto v = value(setting.key);
    if (v && v->is_string() && !v->get_ref<const std::string&>().empty()) return v->get<std::string>();
    return std::string(setting.fallback);
}

std::vector<std::string> UserDefaults::get(const TextListSetting& setting) const {
    std::vector<std::string> out;
    auto v = value(setting.key);
    if (!v || !v->is_array()) return out;
    for (const DefaultsValue& element : *v)
        if (element.is_string()) out.push_back(element.get<std::string>());
    return out;
}

void UserDefaults::set(const BoolSetting& setting, bool value) {
    setValue(setting.key, value);
}

void UserDefaults::set(const TextSetting& setting, std::string_view value) {
    setValue(setting.key, std::string(value));
}

void UserDefaults::set(const TextListSetting& setting, const std::vector<std::string>& value) {
    setValue(setting.key, DefaultsValue(value));
}

}  // namespace qm
