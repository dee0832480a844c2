#pragma once

#include <absl/base/thread_annotations.h>

#include <QSettings>

#include <memory>
#include <string>

#include "core/Mutex.h"
#include "library/UserDefaults.h"

namespace qm {

// User defaults in QSettings' native format: on Linux
// $XDG_CONFIG_HOME/quillomere/quillomere.conf. Each value is kept as JSON text
// so its type survives the INI file; a value whose text is not UTF-8 is kept as
// CBOR bytes instead, so raw bytes come back unchanged. Every change is written
// at once. Thread-safe.
class SettingsUserDefaults final : public UserDefaults {
public:
    SettingsUserDefaults();
    // A store in the given file, for tests and tools.
    explicit SettingsUserDefaults(const std::string& filePath);

    std::optional<DefaultsValue> value(std::string_view key) const override;
    void setValue(std::string_view key, const DefaultsValue& value) override;
    void removeValue(std::string_view key) override;

    // Where the values live.
    std::string fileName() const;

private:
    mutable Mutex mutex_;
    std::unique_ptr<QSettings> settings_ ABSL_GUARDED_BY(mutex_);
};

}  // namespace qm
