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

int64_t UserDefaults::get(const IntSetting& setting) const {
    auto v = value(setting.key);
    // A number written as 256.0 counts; fractions and text do not.
    if (!v || !v->is_number()) return setting.fallback;
    if (v->is_number_float()) {
        const double d = v->get<double>();
        if (!(d >= double(setting.min) && d <= double(setting.max)) || d != double(int64_t(d))) return setting.fallback;
        return int64_t(d);
    }
    if (v->is_number_unsigned()) {
        const uint64_t u = v->get<uint64_t>();
        return setting.max >= 0 && u <= uint64_t(setting.max) && int64_t(u) >= setting.min ? int64_t(u) : setting.fallback;
    }
    const int64_t i = v->get<int64_t>();
    return i >= setting.min && i <= setting.max ? i : setting.fallback;
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

void UserDefaults::set(const IntSetting& setting, int64_t value) {
    setValue(setting.key, value);
}

void UserDefaults::set(const TextListSetting& setting, const std::vector<std::string>& value) {
    setValue(setting.key, DefaultsValue(value));
}

}  // namespace qm
