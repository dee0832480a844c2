#include "app/LinuxServices.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include "app/WindowStateArchiver.h"
#include "platform/FileIndex.h"
#include "platform/InotifyDirectoryWatcher.h"
#include "platform/LinuxFileOperations.h"
#include "desktop/SettingsUserDefaults.h"
#include "platform/XattrTagStore.h"

namespace qm {

namespace {

// The user defaults, or, when the settings file cannot be read or its folder
// cannot be written, the same store anyway (it keeps values in memory for
// this run) with one line saying why nothing will be kept.
std::shared_ptr<UserDefaults> makeDefaults(std::vector<std::string>& warnings) {
    // Read first by a probe of its own: stores of one file share what they read.
    QSettings probe(QSettings::NativeFormat, QSettings::UserScope, "quillomere", "quillomere");
    const QSettings::Status status = probe.status();
    auto defaults = std::make_shared<SettingsUserDefaults>();
    const QString file = QString::fromStdString(defaults->fileName());
    const QFileInfo info(file);
    if (info.exists()) {
        if (status == QSettings::FormatError)
            warnings.push_back("[setup] The settings file " + file.toStdString() +
                               " cannot be read; starting with default settings");
        else if (!info.isWritable())
            warnings.push_back("[setup] The settings file " + file.toStdString() +
                               " is not writable; settings changed now will not be kept");
    } else {
        QDir dir = info.absoluteDir();
        const bool made = dir.exists() || QDir().mkpath(dir.absolutePath());
        if (!made || !QFileInfo(dir.absolutePath()).isWritable())
            warnings.push_back("[setup] The settings folder " + dir.absolutePath().toStdString() +
                               " is not writable; settings changed now will not be kept");
    }
    return defaults;
}

}  // namespace

LinuxServices makeLinuxServices() {
    LinuxServices out;
    out.index = std::make_shared<FileIndex>(FileIndex::Options{});
    out.index->start();
    auto& s = out.services;
    s.library.tagQuery = out.index->tagQuery();
    s.library.gpsQuery = out.index->gpsQuery();
    s.library.defaults = makeDefaults(out.warnings);
    std::weak_ptr<FileIndex> weakIndex = out.index;
    s.library.makeDirectoryWatcher = [weakIndex]() -> std::unique_ptr<DirectoryWatcher> {
        InotifyDirectoryWatcher::Options options;
        options.index = weakIndex.lock();
        return std::make_unique<InotifyDirectoryWatcher>(std::move(options));
    };
    s.tagStore = std::make_shared<XattrTagStore>();
    s.fileOperations = std::make_shared<LinuxFileOperations>();
    s.stateFile = WindowStateArchiver::defaultPath();
    s.crawlProgress = [weakIndex]() -> std::optional<size_t> {
        auto index = weakIndex.lock();
        if (!index) return std::nullopt;
        return index->itemsSeen();
    };
    return out;
}

}  // namespace qm
