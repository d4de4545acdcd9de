# The UnRAR library, from its source in third_party/unrar (unpacked by
# scripts/bootstrap), built as unrar.dll in either tree:
#   Windows: a 32-bit DLL exporting the RAR* functions of dll.def under their
#            plain names, with libgcc and libstdc++ linked in, so that it needs
#            nothing beyond the system DLLs;
#   host:    a shared library of the same sources, under the same file name.
# Sources and defines follow the library's own DLL project (Windows) and its
# makefile's "lib" target (host). Its code is not ours: it compiles with -w and
# without our flags.
#
# Targets: unrar (the library) and unrar_headers (the include folder of
# dll.hpp for code that loads the library).

get_filename_component(ZR_UNRAR_DIR ${CMAKE_CURRENT_LIST_DIR}/../third_party/unrar ABSOLUTE)
set(ZR_UNRAR_COMPAT_DIR ${CMAKE_CURRENT_LIST_DIR}/unrar-compat)

if(NOT EXISTS ${ZR_UNRAR_DIR}/dll.hpp)
  message(FATAL_ERROR "UnRAR source not found in ${ZR_UNRAR_DIR}; run scripts/bootstrap")
endif()

# Sources shared by both builds. Files such as unpack15.cpp or crypt3.cpp are
# #included by these and are not compiled on their own.
set(ZR_UNRAR_SOURCES
  archive.cpp arcread.cpp blake2s.cpp cmddata.cpp consio.cpp crc.cpp crypt.cpp
  dll.cpp encname.cpp errhnd.cpp extinfo.cpp extract.cpp filcreat.cpp file.cpp
  filefn.cpp filestr.cpp find.cpp getbits.cpp global.cpp hash.cpp headers.cpp
  match.cpp options.cpp pathfn.cpp qopen.cpp rar.cpp rarvm.cpp rawread.cpp
  rdwrfn.cpp rijndael.cpp rs16.cpp scantree.cpp secpassword.cpp sha1.cpp
  sha256.cpp smallfn.cpp strfn.cpp strlist.cpp system.cpp threadpool.cpp
  timefn.cpp ui.cpp unicode.cpp unpack.cpp volume.cpp)
if(WIN32)
  list(APPEND ZR_UNRAR_SOURCES isnt.cpp rs.cpp)
else()
  list(APPEND ZR_UNRAR_SOURCES list.cpp resource.cpp)
endif()
list(TRANSFORM ZR_UNRAR_SOURCES PREPEND ${ZR_UNRAR_DIR}/)

add_library(unrar SHARED ${ZR_UNRAR_SOURCES})
set_target_properties(unrar PROPERTIES
  PREFIX "" SUFFIX ".dll" OUTPUT_NAME unrar
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin
  CXX_EXTENSIONS ON)
# The library is tuned for -O2 (its makefile's setting), whatever the tree's
# build type; a later -O wins over the one from CMAKE_CXX_FLAGS_<CONFIG>.
target_compile_options(unrar PRIVATE -w -O2)
target_compile_definitions(unrar PRIVATE RARDLL)

if(WIN32)
  # The DLL project's defines. dll.def names the exports by their plain names;
  # the linker binds each to its __stdcall symbol (name@N), and --kill-at keeps
  # the @N out of the export table. -s: the DLL ships as a payload of the
  # setup program, so it carries no symbol table.
  target_compile_definitions(unrar PRIVATE UNRAR SILENT)
  # PowrProf.h and Wbemidl.h, spelled as the sources include them.
  target_include_directories(unrar BEFORE PRIVATE ${ZR_UNRAR_COMPAT_DIR})
  target_sources(unrar PRIVATE ${ZR_UNRAR_DIR}/dll.def ${ZR_UNRAR_COMPAT_DIR}/com_util.cpp)
  set_target_properties(unrar PROPERTIES IMPORT_PREFIX "" IMPORT_SUFFIX ".dll.a")
  target_link_options(unrar PRIVATE -static -static-libgcc -static-libstdc++
    -Wl,--enable-stdcall-fixup -Wl,--kill-at -s)
  target_link_libraries(unrar PRIVATE
    powrprof shlwapi wbemuuid oleaut32 ole32 shell32 advapi32 user32 kernel32)

  # The version resource of the DLL project.
  if(NOT ZR_WINDRES)
    find_program(ZR_WINDRES NAMES i686-w64-mingw32-windres REQUIRED)
  endif()
  set(ZR_UNRAR_RES ${CMAKE_CURRENT_BINARY_DIR}/unrar_res.o)
  add_custom_command(OUTPUT ${ZR_UNRAR_RES}
    COMMAND ${ZR_WINDRES} -c 1252 -O coff -i ${ZR_UNRAR_DIR}/dll.rc -o ${ZR_UNRAR_RES}
    DEPENDS ${ZR_UNRAR_DIR}/dll.rc VERBATIM)
  target_sources(unrar PRIVATE ${ZR_UNRAR_RES})
else()
  # The makefile's defines for Linux.
  target_compile_definitions(unrar PRIVATE _FILE_OFFSET_BITS=64 _LARGEFILE_SOURCE RAR_SMP)
  set(THREADS_PREFER_PTHREAD_FLAG ON)
  find_package(Threads REQUIRED)
  target_link_libraries(unrar PRIVATE Threads::Threads)
  # Export only the functions dll.def names, as the Windows DLL does, so that
  # the library's many internal C++ symbols stay its own.
  file(STRINGS ${ZR_UNRAR_DIR}/dll.def ZR_UNRAR_DEF)
  set(ZR_UNRAR_EXPORTS "")
  foreach(line IN LISTS ZR_UNRAR_DEF)
    if(line MATCHES "^[ \t]+([A-Za-z_][A-Za-z0-9_]*)[ \t\r]*$")
      string(APPEND ZR_UNRAR_EXPORTS "    ${CMAKE_MATCH_1};\n")
    endif()
  endforeach()
  set(ZR_UNRAR_MAP ${CMAKE_CURRENT_BINARY_DIR}/unrar.map)
  file(CONFIGURE OUTPUT ${ZR_UNRAR_MAP}
    CONTENT "{\n  global:\n${ZR_UNRAR_EXPORTS}  local: *;\n};\n" @ONLY)
  target_link_options(unrar PRIVATE -Wl,--version-script=${ZR_UNRAR_MAP} -Wl,--no-undefined)
  set_property(TARGET unrar APPEND PROPERTY LINK_DEPENDS ${ZR_UNRAR_MAP})
endif()

# dll.hpp for clients that load unrar.dll. It takes HANDLE, LPARAM, UINT,
# CALLBACK and PASCAL from the platform: <windows.h> on Windows, compat/ on the
# host. A host client without compat/ defines _UNIX itself, which makes dll.hpp
# supply them (as macros, which is why it is not set here).
add_library(unrar_headers INTERFACE)
target_include_directories(unrar_headers SYSTEM INTERFACE ${ZR_UNRAR_DIR})
