// quillomere: the tag browser. Runs on the user's home folder with the
// embedded index; log lines go to standard output.

#include <QApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "app/AppDelegate.h"
#include "app/LinuxServices.h"
#include "core/EventEmitter.h"
#include "library/DB.h"
#include "desktop/QtMainQueue.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point began) {
    return std::chrono::duration<double>(Clock::now() - began).count();
}

// Resident memory in megabytes, from the kernel's account of this process.
double residentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kilobytes = 0;
            status >> kilobytes;
            return kilobytes / 1024.0;
        }
        status.ignore(1 << 20, '\n');
    }
    return 0;
}

bool hasDisplay() {
    auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv) {
    const auto began = Clock::now();
    if (!hasDisplay()) {
        std::fprintf(stderr, "quillomere: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                             "start it from a desktop session\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillomere"));
    QApplication::setApplicationVersion(QStringLiteral(QM_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("org.quillomere.Quillomere"));

    qm::QtMainQueue mainQueueBinding;
    qm::LinuxServices platform = qm::makeLinuxServices();
    for (const std::string& line : platform.warnings)
        std::printf("%s\n", line.c_str());
    qm::AppDelegate delegate(platform.services);
    delegate.applicationDidFinishLaunching();
    std::printf("[setup] First window: %.3f seconds\n", secondsSince(began));
    std::fflush(stdout);

    // When the library first shows, say how long it took and what it costs.
    auto token = std::make_shared<int>(0);
    auto reportLoaded = [&, reported = false]() mutable {
        if (reported || delegate.db()->loadingState() != qm::LoadingState::loaded) return;
        reported = true;
        // After this turn, once the windows had the loaded tree to show.
        QTimer::singleShot(0, [&, began] {
            std::printf("[setup] Library shown: %.3f seconds (resident memory %.0f MB, longest main-queue turn %.1f ms)\n",
                        secondsSince(began), residentMegabytes(),
                        std::chrono::duration<double, std::milli>(mainQueueBinding.longestTurn()).count());
            std::fflush(stdout);
        });
    };
    delegate.db()->loadingStateChanged.subscribe(token, reportLoaded);
    reportLoaded();
    return app.exec();
}
