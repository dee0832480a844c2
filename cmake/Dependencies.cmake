# Every package here is installed by scripts/install-deps.
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
find_package(absl REQUIRED)
find_package(nlohmann_json REQUIRED)
find_package(SQLite3 REQUIRED)
find_package(EXPAT REQUIRED)
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Network DBus Concurrent Svg
  OpenGL OpenGLWidgets Multimedia MultimediaWidgets Test)
pkg_check_modules(XXHASH REQUIRED IMPORTED_TARGET libxxhash)
pkg_check_modules(EXIV2 REQUIRED IMPORTED_TARGET exiv2)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil libswscale)
pkg_check_modules(HEIF REQUIRED IMPORTED_TARGET libheif)
pkg_check_modules(POPPLER REQUIRED IMPORTED_TARGET poppler-qt6)
if(QM_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(QM_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
# The model's emitters have a member named emit, which Qt's keyword macro of
# that name would rewrite: Qt code says Q_SIGNALS, Q_SLOTS and Q_EMIT instead.
add_compile_definitions(QT_NO_KEYWORDS)
