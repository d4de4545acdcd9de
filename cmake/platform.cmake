# Platform libraries of a program: the Windows import libraries, or compat/.
function(zr_link_platform target)
  if(WIN32)
    target_link_libraries(${target} PUBLIC comctl32 ole32 uuid ws2_32 advapi32 user32 kernel32)
  else()
    target_link_libraries(${target} PUBLIC compat)
  endif()
endfunction()

# A program executable: GUI subsystem on Windows, compat's entry on the host.
function(zr_program target)
  if(WIN32)
    target_link_options(${target} PRIVATE -mwindows)
  else()
    set_target_properties(${target} PROPERTIES SUFFIX ".exe")
    target_link_libraries(${target} PRIVATE compat_main)
  endif()
endfunction()
