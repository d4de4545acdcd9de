# Compiles a program's .rc with windres in both trees, with a generated icon.
# Windows: a COFF object linked into the program. Host: a .res image that is
# embedded as a byte array and registered with the compat layer, so that the
# dialogs shown on the terminal come from the very same templates.
#
# zr_add_resources(TARGET RC_FILE ICON_NAME ICON_BITS ICON_SIZES...)
function(zr_add_resources target rc icon bits)
  set(sizes ${ARGN})
  get_filename_component(rcdir ${rc} DIRECTORY)
  set(gen ${CMAKE_CURRENT_BINARY_DIR}/res)
  file(MAKE_DIRECTORY ${gen})
  add_custom_command(OUTPUT ${gen}/${icon}
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/make_icon.py ${gen}/${icon} ${bits} ${sizes}
    DEPENDS ${PROJECT_SOURCE_DIR}/cmake/make_icon.py VERBATIM)
  file(GLOB deps ${rcdir}/*)
  if(WIN32)
    # Compiled as a source of the target, so that an OBJECT library carries it.
    target_sources(${target} PRIVATE ${rc})
    target_include_directories(${target} PRIVATE ${rcdir} ${gen})
    set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${deps} ${gen}/${icon})
  else()
    set(res ${gen}/${target}.res)
    add_custom_command(OUTPUT ${res}
      COMMAND ${ZR_WINDRES} -I ${rcdir} -I ${gen} -O res -i ${rc} -o ${res}
      DEPENDS ${rc} ${deps} ${gen}/${icon} VERBATIM)
    set(cpp ${gen}/${target}_res.cpp)
    add_custom_command(OUTPUT ${cpp}
      COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/embed.py ${cpp}
              ${target}Resources=${res} --register-resources ${target}Resources
      DEPENDS ${res} ${PROJECT_SOURCE_DIR}/cmake/embed.py VERBATIM)
    target_sources(${target} PRIVATE ${cpp})
    set_property(TARGET ${target} APPEND PROPERTY ZR_RES_FILE ${res})
  endif()
endfunction()
