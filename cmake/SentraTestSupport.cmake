# What the tests and benchmarks share in their CMake files.

# The real captures every test and benchmark reads: a folder `shared/captures`
# beside the source tree (CI clones the repository into a folder with shared/
# beside it).
set(SENTRA_SHARED_CAPTURES_DIR "${PROJECT_SOURCE_DIR}/../shared/captures")

# Gives target the folder of the shared captures as SENTRA_SHARED_CAPTURES.
function(sentra_shared_captures target)
  target_compile_definitions(${target} PRIVATE SENTRA_SHARED_CAPTURES="${SENTRA_SHARED_CAPTURES_DIR}")
endfunction()

# A sanitized plug-in runs inside the host's unsanitized tshark only with the
# sanitizer runtime preloaded. Sets out_var to the test environment entry the
# tshark runners read (ZEL_TSHARK_PRELOAD, empty without the sanitizer).
function(sentra_tshark_preload_env out_var)
  set(_preload "")
  if(SENTRA_SANITIZE)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                    OUTPUT_VARIABLE _preload OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  set(${out_var} "ZEL_TSHARK_PRELOAD=${_preload}" PARENT_SCOPE)
endfunction()
