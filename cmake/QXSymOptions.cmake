# Per-target defaults: warnings, warnings as errors, sanitizers.
# Every target of the project calls qxsym_target_defaults(<target>), after
# its own link options.

function(qxsym_target_defaults target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra
                           $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      target_compile_options(${target} PRIVATE -Wshadow=local)
    endif()
    if(QXSYM_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
    if(QXSYM_SANITIZE STREQUAL "address")
      target_compile_options(${target} PRIVATE -fsanitize=address,undefined
                             -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
      target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    elseif(QXSYM_SANITIZE STREQUAL "thread")
      target_compile_options(${target} PRIVATE -fsanitize=thread -fno-omit-frame-pointer)
      target_link_options(${target} PRIVATE -fsanitize=thread)
    elseif(NOT QXSYM_SANITIZE STREQUAL "")
      message(FATAL_ERROR "QXSYM_SANITIZE must be empty, address or thread")
    endif()
    # clang links its sanitizer runtimes into executables only; a shared
    # library leaves their symbols to the program that loads it, so it cannot
    # link with --no-undefined (-z defs). -z undefs, placed after it, lifts
    # that check for sanitizer builds only: the ordinary build keeps it.
    # The C++ driver links executables, also C programs, so they carry the
    # C++ part of that runtime and libstdc++ that the library's C++ needs.
    get_target_property(type ${target} TYPE)
    if(NOT QXSYM_SANITIZE STREQUAL "" AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
      if(type MATCHES "^(SHARED|MODULE)_LIBRARY$")
        target_link_options(${target} PRIVATE -Wl,-z,undefs)
      elseif(type STREQUAL "EXECUTABLE")
        set_target_properties(${target} PROPERTIES LINKER_LANGUAGE CXX)
      endif()
    endif()
  endif()
endfunction()
