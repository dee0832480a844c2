#pragma once

#include <functional>
#include <string>
#include <vector>

class QDBusConnection;
class QUrl;

namespace qm {

// Shows files or folders selected in the desktop's file manager through
// org.freedesktop.FileManager1.ShowItems, without waiting for it: a file
// manager that starts on demand, or a bus that does not answer, never holds
// the window. Where the call fails (no file manager, no bus, an error
// reply), the first item's parent folder is opened instead. Paths are bytes
// and are escaped byte for byte, so names that are not UTF-8 reach the file
// manager as themselves.
class FileManagerReveal {
public:
    // Told once the outcome is known: true when the file manager took the
    // request, false when the fallback ran.
    using Done = std::function<void(bool shownByFileManager)>;
    using OpenFolder = std::function<void(const QUrl& folder)>;

    static void showItems(const std::vector<std::string>& paths, Done done = {});
    // On a given bus, with a given fallback (tests use a private bus).
    static void showItems(const QDBusConnection& bus, const std::vector<std::string>& paths, Done done,
                          OpenFolder openFolder);

    // The URI the file manager is given for a path.
    static std::string uriFor(const std::string& path);
    // The folder the fallback opens for the first path.
    static QUrl fallbackFolder(const std::string& firstPath);
};

}  // namespace qm
