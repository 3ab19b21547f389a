# The Qt major version the installed Wireshark GUI runs, read from the Qt
# libraries its program links (the NEEDED entries of its dynamic section). The
# plug-in's window module must be built for exactly that Qt: a module for the
# other major cannot be loaded into the running Wireshark.
#
#   sentra_program_qt_major(<out> <program>)  5, 6, or "" when the program
#                                              links no Qt (or does not exist)
#
# Also runs as a script, for the tests: cmake -DPROGRAM=<file> -P WiresharkQtMajor.cmake
# prints "qt-major: <N>".
include_guard(GLOBAL)

function(sentra_program_qt_major out program)
  set(_major "")
  if(EXISTS "${program}")
    find_program(SENTRA_OBJDUMP NAMES objdump)
    if(SENTRA_OBJDUMP)
      execute_process(COMMAND ${SENTRA_OBJDUMP} -p "${program}" OUTPUT_VARIABLE _dyn ERROR_QUIET)
      if(_dyn MATCHES "NEEDED +libQt([0-9]+)(Core|Widgets|Gui)")
        set(_major ${CMAKE_MATCH_1})
      endif()
    endif()
  endif()
  set(${out} "${_major}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND PROGRAM)
  sentra_program_qt_major(_major "${PROGRAM}")
  message("qt-major: ${_major}")
endif()

# Turns the SENTRA_QT_MAJOR choice into the major the build's windows, tests
# and loader use (a plain variable of the same name, 5 or 6) and the list of
# majors whose window module is built (SENTRA_GUI_QT_MAJORS):
#   auto   the installed Wireshark's Qt; 6 when no Wireshark GUI is installed
#   5, 6   that one
#   both   both modules; the installed Wireshark's Qt (else 6) is the build's own
macro(sentra_resolve_qt_major)
  pkg_get_variable(_sentra_ws_prefix wireshark prefix)
  find_program(SENTRA_WIRESHARK_PROGRAM wireshark HINTS ${_sentra_ws_prefix}/bin NO_DEFAULT_PATH)
  find_program(SENTRA_WIRESHARK_PROGRAM wireshark)
  sentra_program_qt_major(_sentra_host_qt "${SENTRA_WIRESHARK_PROGRAM}")
  set(_sentra_choice ${SENTRA_QT_MAJOR})
  if(_sentra_choice STREQUAL "auto" OR _sentra_choice STREQUAL "both")
    if(_sentra_host_qt MATCHES "^(5|6)$")
      set(SENTRA_QT_MAJOR ${_sentra_host_qt})
    else()
      set(SENTRA_QT_MAJOR 6)
    endif()
  elseif(NOT _sentra_choice MATCHES "^(5|6)$")
    message(FATAL_ERROR "SENTRA_QT_MAJOR must be auto, 5, 6 or both, not '${_sentra_choice}'")
  endif()
  set(SENTRA_GUI_QT_MAJORS ${SENTRA_QT_MAJOR})
  if(_sentra_choice STREQUAL "both")
    if(SENTRA_QT_MAJOR EQUAL 5)
      list(APPEND SENTRA_GUI_QT_MAJORS 6)
    else()
      list(APPEND SENTRA_GUI_QT_MAJORS 5)
    endif()
  endif()
  if(SENTRA_BUILD_GUI)
    message(STATUS "Wireshark GUI: ${SENTRA_WIRESHARK_PROGRAM} (Qt ${_sentra_host_qt}); "
                   "window modules for Qt ${SENTRA_GUI_QT_MAJORS}")
  endif()
endmacro()
