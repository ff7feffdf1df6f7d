# Shared build helpers.

# Warnings on in our own code. They become errors only in developers' and CI builds
# (tools/build.sh sets CMAKE_COMPILE_WARNING_AS_ERROR): a user's or packager's build with another
# compiler must not fail over a new warning.
function(zolvex_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic
    -Wno-missing-field-initializers)
  # GCC 12 reports -Wrestrict on std::string concatenations it has inlined at -O3
  # (GCC bug 105329); the warning is wrong there, and silencing one line only moves it to the next.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
     AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
endfunction()

# Include folders per target: each folder's target exposes an include root of its own in the
# build tree, holding one link named after the folder (build/include/support/support -> support/).
# A file reaches "support/Paths.h" only when its target links the support layer, directly or
# through a layer above it, so including from a layer above one's own does not build.
set(ZOLVEX_INCLUDE_ROOT ${CMAKE_BINARY_DIR}/include)
function(zolvex_include_root target)
  file(RELATIVE_PATH folder ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  string(REPLACE "/" "_" rootname "${folder}")
  set(root ${ZOLVEX_INCLUDE_ROOT}/${rootname})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()

# One layer folder: a static library of the sources listed, with its include root and the
# layers and libraries it stands on.
#   zolvex_layer(zolvex_sprites SOURCES BobUnit.cpp ... LIBS zolvex_surface)
function(zolvex_layer name)
  cmake_parse_arguments(L "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${L_SOURCES})
  zolvex_include_root(${name})
  target_link_libraries(${name} PUBLIC ${L_LIBS})
  zolvex_warnings(${name})
endfunction()

# Registers a file to be compiled into the executable as a resource.
#   zolvex_add_resource(TYPE BITMAP NAME SPERM1 FILE path [DEPENDS target])
# TYPE is BITMAP, JPEG or TEXT; NAME is looked up in capitals.
function(zolvex_add_resource)
  cmake_parse_arguments(R "" "TYPE;NAME;FILE" "DEPENDS" ${ARGN})
  string(TOUPPER "${R_NAME}" upname)
  set_property(GLOBAL APPEND PROPERTY ZOLVEX_RESOURCES "${R_TYPE}|${upname}|${R_FILE}")
  if(R_DEPENDS)
    set_property(GLOBAL APPEND PROPERTY ZOLVEX_RESOURCE_DEPENDS ${R_DEPENDS})
  endif()
endfunction()

# Headless test environment: SDL's dummy drivers and Qt's offscreen platform.
set(ZOLVEX_TEST_ENV "SDL_VIDEODRIVER=dummy;SDL_AUDIODRIVER=dummy;QT_QPA_PLATFORM=offscreen")
