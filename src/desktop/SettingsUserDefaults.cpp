#include "desktop/SettingsUserDefaults.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

namespace qm {

namespace {

QString keyString(std::string_view key) {
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

}  // namespace

SettingsUserDefaults::SettingsUserDefaults()
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "quillomere",
                                            "quillomere")) {}

SettingsUserDefaults::SettingsUserDefaults(const std::string& filePath)
    : settings_(std::make_unique<QSettings>(QString::fromStdString(filePath), QSettings::IniFormat)) {}

std::string SettingsUserDefaults::fileName() const {
    MutexLock lock(mutex_);
    return settings_->fileName().toStdString();
}

std::optional<DefaultsValue> SettingsUserDefaults::value(std::string_view key) const {
    QVariant stored;
    {
        MutexLock lock(mutex_);
        QString k = keyString(key);
        if (!settings_->contains(k)) return std::nullopt;
        stored = settings_->value(k);
    }
    if (stored.typeId() == QMetaType::QByteArray) {
        QByteArray bytes = stored.toByteArray();
        DefaultsValue v = DefaultsValue::from_cbor(bytes.begin(), bytes.end(), true, false);
        if (!v.is_discarded()) return v;
        return DefaultsValue(bytes.toStdString());
    }
    if (stored.typeId() == QMetaType::QStringList || stored.typeId() == QMetaType::QVariantList) {
        // Written by hand or by another program as a plain list.
        DefaultsValue array = DefaultsValue::array();
        for (const QVariant& item : stored.toList())
            array.push_back(item.toString().toStdString());
        return array;
    }
    std::string text = stored.toString().toStdString();
    DefaultsValue v = DefaultsValue::parse(text, nullptr, false);
    if (!v.is_discarded()) return v;
    // Not JSON: whatever was left there is a plain text.
    return DefaultsValue(text);
}

void SettingsUserDefaults::setValue(std::string_view key, const DefaultsValue& value) {
    QVariant stored;
    try {
        stored = QString::fromStdString(value.dump());
    } catch (const DefaultsValue::exception&) {
        // Text that is not UTF-8 cannot be JSON; CBOR keeps the bytes.
        std::vector<std::uint8_t> cbor = DefaultsValue::to_cbor(value);
        stored = QByteArray(reinterpret_cast<const char*>(cbor.data()), static_cast<qsizetype>(cbor.size()));
    }
    MutexLock lock(mutex_);
    settings_->setValue(keyString(key), stored);
    settings_->sync();
}

void SettingsUserDefaults::removeValue(std::string_view key) {
    MutexLock lock(mutex_);
    settings_->remove(keyString(key));
    settings_->sync();
}

}  // namespace qm
