// quillomere: the tag browser. Runs on the user's home folder with the
// embedded index; log lines go to standard output. One runs per session: a
// later start hands its request to it over the session bus.

#include <QApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/LinuxServices.h"
#include "app/PlaceRequest.h"
#include "app/SingleInstance.h"
#include "app/WindowStateArchiver.h"
#include "core/EventEmitter.h"
#include "core/FileURL.h"
#include "core/Log.h"
#include "desktop/QtMainQueue.h"
#include "library/DB.h"
#include "platform/IndexStore.h"
#include "platform/InstanceLock.h"
#include "platform/ListingEscape.h"

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

std::string workingDirectory() {
    std::error_code error;
    std::filesystem::path cwd = std::filesystem::current_path(error);
    return error ? std::string("/") : cwd.string();
}

void printRefusals(const qm::PlaceRequest& request) {
    for (const std::string& line : request.refusals)
        std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const auto began = Clock::now();
    auto parsed = qm::CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc));
    if (const auto* error = std::get_if<std::string>(&parsed)) {
        std::fprintf(stderr, "quillomere: %s\nTry 'quillomere --help'.\n", error->c_str());
        return 2;
    }
    const qm::CommandLine& commandLine = std::get<qm::CommandLine>(parsed);
    if (commandLine.help) {
        std::fputs(qm::CommandLine::helpText, stdout);
        return 0;
    }
    if (commandLine.version) {
        std::printf("quillomere %s\n", QM_VERSION);
        return 0;
    }
    // Relative paths name places in this start's working directory, so they
    // are resolved here, before a hand-over.
    const qm::PlaceRequest request = qm::PlaceRequest::resolve(commandLine.places, workingDirectory());
    printRefusals(request);
    if (!commandLine.places.empty() && !request.place) return 1;
    if (!hasDisplay()) {
        std::fprintf(stderr, "quillomere: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                             "start it from a desktop session\n");
        return 1;
    }
    // Qt sees no arguments: all of them are ours (a file may be named "-style").
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillomere"));
    QApplication::setApplicationVersion(QStringLiteral(QM_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("org.quillomere.Quillomere"));

    qm::SingleInstance instance;
    std::vector<std::string> uris;
    for (const std::string& path : request.accepted)
        uris.push_back(qm::fileURLForPath(path));
    const auto claim = instance.claim(uris, !commandLine.service);
    if (claim == qm::SingleInstance::Claim::handedOver) return 0;
    if (claim == qm::SingleInstance::Claim::failed) {
        // Started by the bus while another start took the name: that one serves.
        if (commandLine.service) return 0;
        std::fprintf(stderr, "quillomere: Quillomere is running but did not take the request: %s\n",
                     instance.error().toLocal8Bit().constData());
        return 1;
    }
    if (claim == qm::SingleInstance::Claim::noBus && commandLine.service) {
        std::fprintf(stderr, "quillomere: --service needs a session bus: %s\n", instance.error().toLocal8Bit().constData());
        return 1;
    }
    // Another Quillomere on this home that no bus reaches (none, or another
    // session's) would write the same state file and index.
    // One that is quitting (it gave the name up) lets go of it within moments.
    qm::InstanceLock instanceLock;
    if (auto held = instanceLock.acquire({qm::WindowStateArchiver::defaultPath(), qm::IndexStore::defaultPath()},
                                         std::chrono::seconds(3))) {
        std::fprintf(stderr, "quillomere: another Quillomere is running on this home folder (it holds %s) "
                             "and cannot be reached over this session's bus\n",
                     qm::escapeListingField(*held).c_str());
        return 1;
    }

    qm::QtMainQueue mainQueueBinding;
    qm::LinuxServices platform = qm::makeLinuxServices();
    for (const std::string& line : platform.warnings)
        qm::logTaggedLine(line);
    qm::AppDelegate delegate(platform.services);
    // Started by the bus, the first request launches.
    if (!commandLine.service) {
        delegate.applicationDidFinishLaunching(request.place);
        qm::logFormat(qm::LogArea::setup, "First window: %.3f seconds", secondsSince(began));
    }
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &instance, &qm::SingleInstance::release);
    instance.setHandler([&delegate](const std::vector<std::string>& received) {
        const qm::PlaceRequest next = qm::PlaceRequest::resolve(received, "/");
        printRefusals(next);
        delegate.openRequest(next);
    });

    // When the library first shows, say how long it took and what it costs.
    auto reportLoaded = [&, reported = false]() mutable {
        if (reported || delegate.db()->loadingState() != qm::LoadingState::loaded) return;
        reported = true;
        // After this turn, once the windows had the loaded tree to show.
        QTimer::singleShot(0, [&, began] {
            qm::logFormat(
                qm::LogArea::setup,
                "Library shown: %.3f seconds (resident memory %.0f MB, longest main-queue turn %.1f ms)",
                secondsSince(began), residentMegabytes(),
                std::chrono::duration<double, std::milli>(mainQueueBinding.longestTurn()).count());
        });
    };
    const qm::Subscription loaded = delegate.db()->loadingStateChanged.subscribe(reportLoaded);
    reportLoaded();
    return app.exec();
}
