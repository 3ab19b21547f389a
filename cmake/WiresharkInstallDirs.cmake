# Where Wireshark looks for our add-ons, as paths relative to the install
# prefix, so `cmake --install`, `--prefix <dir>` and DESTDIR=<dir> all lay the
# files out the way the host Wireshark expects them:
#   WIRESHARK_PLUGIN_INSTALL_DIR  <plugindir>/epan      (zelanalyzer.so)
#   WIRESHARK_EXTCAP_INSTALL_DIR  <libdir>/wireshark/extcap (sentra_extcap)
# Both come from pkg-config's wireshark.pc; without it they fall back to the
# Debian layout. A first configure with the default prefix installs into
# Wireshark's own prefix (/usr on Debian), where Wireshark searches; any
# -DCMAKE_INSTALL_PREFIX given by the user is kept.
include_guard(GLOBAL)

find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_get_variable(_ws_prefix wireshark prefix)
  pkg_get_variable(_ws_plugindir wireshark plugindir)
  pkg_get_variable(_ws_libdir wireshark libdir)
endif()
if(NOT _ws_prefix)
  set(_ws_prefix /usr)
endif()
if(NOT _ws_libdir)
  if(CMAKE_LIBRARY_ARCHITECTURE)
    set(_ws_libdir ${_ws_prefix}/lib/${CMAKE_LIBRARY_ARCHITECTURE})
  else()
    set(_ws_libdir ${_ws_prefix}/lib)
  endif()
endif()

function(_wireshark_relative_to_prefix out path)
  file(RELATIVE_PATH _rel ${_ws_prefix} ${path})
  set(${out} ${_rel} PARENT_SCOPE)
endfunction()

if(_ws_plugindir)
  _wireshark_relative_to_prefix(_plugin_rel ${_ws_plugindir})
else()
  _wireshark_relative_to_prefix(_plugin_rel ${_ws_libdir}/wireshark/plugins)
endif()
_wireshark_relative_to_prefix(_extcap_rel ${_ws_libdir}/wireshark/extcap)

set(WIRESHARK_PLUGIN_INSTALL_DIR ${_plugin_rel}/epan CACHE STRING
    "Folder of Wireshark's epan plug-ins, relative to the install prefix")
set(WIRESHARK_EXTCAP_INSTALL_DIR ${_extcap_rel} CACHE STRING
    "Folder of Wireshark's extcap programs, relative to the install prefix")

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX ${_ws_prefix} CACHE PATH "Install prefix (Wireshark's own by default)" FORCE)
endif()
