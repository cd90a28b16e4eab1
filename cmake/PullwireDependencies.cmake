# Finds the Debian packages every part of the build uses.
find_package(Threads REQUIRED)
find_package(fmt REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
find_package(CLI11 REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets)
# Name lookups without a thread of their own (ftp/resolver.h); Debian's package has no CMake files.
find_package(PkgConfig REQUIRED)
pkg_check_modules(CARES REQUIRED IMPORTED_TARGET libcares)

# Debian's libasio-dev is header-only and ships no CMake package.
find_path(ASIO_INCLUDE_DIR asio.hpp REQUIRED)
add_library(asio INTERFACE)
target_include_directories(asio SYSTEM INTERFACE "${ASIO_INCLUDE_DIR}")
target_compile_definitions(asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
target_link_libraries(asio INTERFACE Threads::Threads)
