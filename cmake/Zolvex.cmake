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

# A static library made of every source file of a layer folder, so that new units
# join the build by being added to the folder.
function(zolvex_layer name)
  cmake_parse_arguments(L "" "" "LIBS;EXCLUDE" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  foreach(x ${L_EXCLUDE})
    list(REMOVE_ITEM srcs ${CMAKE_CURRENT_SOURCE_DIR}/${x})
  endforeach()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
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
