# The web build: the game screen's layers compiled to WebAssembly with emscripten, on SDL2,
# SDL2_ttf, FreeType and libjpeg-turbo built from Debian's sources (tools/web-deps.sh). The art
# comes from a plain build of the same tree, whose host tools (the asset generator, the level
# packer) cannot run as WebAssembly: tools/build.sh web builds them first.
set(ZOLVEX_HOST_BUILD "${CMAKE_SOURCE_DIR}/build" CACHE PATH
  "A plain build of this tree; the web build packs its generated art, sounds and level")
set(ZOLVEX_WEB_DEPS "${CMAKE_BINARY_DIR}/deps/prefix" CACHE PATH
  "The WebAssembly libraries tools/web-deps.sh built")
set(host_dir ${ZOLVEX_HOST_BUILD}/zolvex)
if(NOT EXISTS ${ZOLVEX_HOST_BUILD}/resstage/BACK.jpg OR NOT EXISTS ${host_dir}/KVD/Level1.txt)
  message(FATAL_ERROR "The web build packs the art of a plain build: none in ${ZOLVEX_HOST_BUILD} "
    "(cmake --build <plain build> --target assets level_pack, or tools/build.sh web)")
endif()

# Every object takes part in C++ exceptions: the program reports its failures with them.
add_compile_options(-fexceptions)
add_link_options(-fexceptions)

set(ENV{PKG_CONFIG_LIBDIR} "${ZOLVEX_WEB_DEPS}/lib/pkgconfig:${ZOLVEX_WEB_DEPS}/share/pkgconfig")
list(APPEND CMAKE_FIND_ROOT_PATH ${ZOLVEX_WEB_DEPS})
find_package(SDL2 REQUIRED CONFIG PATHS ${ZOLVEX_WEB_DEPS} NO_DEFAULT_PATH)
# SDL2_ttf under the name the desktop's pkg-config gives it, with its FreeType (static libraries
# name what they stand on).
pkg_check_modules(FREETYPE REQUIRED IMPORTED_TARGET freetype2)
find_package(SDL2_ttf REQUIRED CONFIG PATHS ${ZOLVEX_WEB_DEPS} NO_DEFAULT_PATH)
add_library(PkgConfig::SDL2TTF INTERFACE IMPORTED)
set_target_properties(PkgConfig::SDL2TTF PROPERTIES
  INTERFACE_LINK_LIBRARIES "SDL2_ttf::SDL2_ttf-static;PkgConfig::FREETYPE;SDL2::SDL2")
pkg_check_modules(TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)
find_package(Threads REQUIRED)

# The pictures and sprite sheets compiled in are the plain build's.
set(ZOLVEX_RESOURCE_STAGE ${ZOLVEX_HOST_BUILD}/resstage)
file(GLOB staged_sheets ${ZOLVEX_RESOURCE_STAGE}/*.bmp)
file(GLOB staged_pictures ${ZOLVEX_RESOURCE_STAGE}/*.jpg)
foreach(f ${staged_sheets})
  get_filename_component(name ${f} NAME_WE)
  zolvex_add_resource(TYPE BITMAP NAME ${name} FILE ${f})
endforeach()
foreach(f ${staged_pictures})
  get_filename_component(name ${f} NAME_WE)
  zolvex_add_resource(TYPE JPEG NAME ${name} FILE ${f})
endforeach()

add_subdirectory(payload)
add_subdirectory(rules)
add_subdirectory(platform)
add_subdirectory(support)
add_subdirectory(surface)
add_subdirectory(sprites)
add_subdirectory(display)
add_subdirectory(game)
add_subdirectory(screen)
add_subdirectory(mpegdll)
add_subdirectory(music)
add_subdirectory(tools/autoplay)
add_subdirectory(resources)
add_subdirectory(web)
