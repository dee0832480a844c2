#pragma once

// Helpers shared by the thumbnail tests: a GUI application for the icon theme,
// fixtures made with the real tools, and waiting on callbacks while the main
// thread's events are processed.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QThread>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

namespace qm::test {

class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "thumbnail-test";
        static char* argv[] = {name, nullptr};
        app_ = new QGuiApplication(argc, argv);
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

private:
    QGuiApplication* app_ = nullptr;
};

inline bool hasTool(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command quietly; true on success.
inline bool sh(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::string shellQuote(const std::filesystem::path& p) {
    std::string out = "'";
    for (char c : p.string()) out += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Output of a shell command, without the final newline.
inline std::string capture(const std::string& command) {
    std::string out;
    if (FILE* f = ::popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        ::pclose(f);
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// Polls until done() holds, processing main-thread events meanwhile.
inline bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents();
        QThread::msleep(2);
    }
    return true;
}

inline QRgb pixelAt(const QImage& image, double fx, double fy) {
    return image.pixel(static_cast<int>(fx * (image.width() - 1)), static_cast<int>(fy * (image.height() - 1)));
}

}  // namespace qm::test
