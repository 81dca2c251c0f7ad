# Every outside library the engine links, gathered behind one interface target.
find_package(ZLIB REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(SDL2 REQUIRED IMPORTED_TARGET sdl2)
pkg_check_modules(EPOXY REQUIRED IMPORTED_TARGET epoxy)
pkg_check_modules(OPENAL REQUIRED IMPORTED_TARGET openal)
pkg_check_modules(IMGUI REQUIRED IMPORTED_TARGET imgui)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libswscale libswresample libavutil)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
find_package(meshoptimizer CONFIG QUIET)
find_path(STB_INCLUDE_DIR stb_image.h PATH_SUFFIXES stb REQUIRED)

add_library(trevan_deps INTERFACE)
target_include_directories(trevan_deps INTERFACE ${STB_INCLUDE_DIR})
target_link_libraries(trevan_deps INTERFACE
  ZLIB::ZLIB PkgConfig::SDL2 PkgConfig::EPOXY PkgConfig::IMGUI PkgConfig::OPENAL PkgConfig::FFMPEG
  OpenSSL::Crypto ${CMAKE_DL_LIBS})
if(meshoptimizer_FOUND)
  target_link_libraries(trevan_deps INTERFACE meshoptimizer::meshoptimizer)
else()
  find_library(MESHOPT_LIB meshoptimizer REQUIRED)
  target_link_libraries(trevan_deps INTERFACE ${MESHOPT_LIB})
endif()

# FCL, only to measure and check the collision library against: the benchmark
# and the agreement test build when it is found. Its pkg-config flags carry
# -std=c++11, so only its include folders and libraries are taken.
pkg_check_modules(FCL QUIET fcl)
if(FCL_FOUND)
  add_library(trevan_fcl INTERFACE)
  target_include_directories(trevan_fcl SYSTEM INTERFACE ${FCL_INCLUDE_DIRS})
  target_link_libraries(trevan_fcl INTERFACE ${FCL_LINK_LIBRARIES})
endif()
