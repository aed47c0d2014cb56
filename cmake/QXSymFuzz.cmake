# Coverage instrumentation for the fuzz targets (clang, libFuzzer).
#
# The coverage flags must never reach the shipped shared library or the tools
# built from the same objects: their link lacks the libFuzzer runtime, so the
# __sanitizer_cov_trace_* hooks stay undefined. Fuzzers therefore link
# separately compiled copies of the code under test.

# qxsym_instrument_for_fuzzing(<target>...)
# Compiles the targets with coverage feedback for libFuzzer. Refuses shared
# libraries and executables: only static or object libraries that fuzzers
# link, and the fuzzers themselves (qxsym_add_fuzzer), are instrumented.
function(qxsym_instrument_for_fuzzing)
  foreach(target IN LISTS ARGN)
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "^(STATIC_LIBRARY|OBJECT_LIBRARY)$")
      message(FATAL_ERROR "qxsym_instrument_for_fuzzing: ${target} is a ${type}; "
                          "instrument a fuzz-only static or object library instead")
    endif()
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
  endforeach()
endfunction()

# qxsym_add_fuzz_copy(<name> <original>...)
# Builds the static library <name> from the sources of the given static or
# object libraries, compiled again with the same include folders,
# definitions, options and dependencies, and instruments it. Each original
# becomes an object library <name>__<original> of its own, so a layer keeps
# its private include folders; a dependency on another original of the list
# is redirected to its copy.
function(qxsym_add_fuzz_copy name)
  set(originals ${ARGN})
  set(copies "")
  foreach(orig IN LISTS originals)
    list(APPEND copies ${name}__${orig})
  endforeach()

  set(props INCLUDE_DIRECTORIES COMPILE_DEFINITIONS COMPILE_OPTIONS COMPILE_FEATURES
            LINK_OPTIONS INTERFACE_INCLUDE_DIRECTORIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES
            INTERFACE_COMPILE_DEFINITIONS INTERFACE_COMPILE_OPTIONS INTERFACE_LINK_OPTIONS
            CXX_VISIBILITY_PRESET VISIBILITY_INLINES_HIDDEN)
  foreach(orig IN LISTS originals)
    get_target_property(type ${orig} TYPE)
    if(NOT type MATCHES "^(STATIC_LIBRARY|OBJECT_LIBRARY)$")
      message(FATAL_ERROR "qxsym_add_fuzz_copy: ${orig} is a ${type}, not a static or object library")
    endif()
    get_target_property(dir ${orig} SOURCE_DIR)
    get_target_property(sources ${orig} SOURCES)
    set(abs "")
    foreach(src IN LISTS sources)
      if(src MATCHES "^\\$<")
        message(FATAL_ERROR "qxsym_add_fuzz_copy: ${orig} takes objects of another target "
                            "(${src}); copy the libraries that compile them instead")
      endif()
      if(NOT IS_ABSOLUTE "${src}")
        set(src "${dir}/${src}")
      endif()
      list(APPEND abs "${src}")
    endforeach()
    set(copy ${name}__${orig})
    add_library(${copy} OBJECT ${abs})
    foreach(prop IN LISTS props)
      get_target_property(value ${orig} ${prop})
      if(value)
        set_property(TARGET ${copy} PROPERTY ${prop} "${value}")
      endif()
    endforeach()
    set_property(TARGET ${copy} PROPERTY POSITION_INDEPENDENT_CODE ON)
    foreach(prop LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
      get_target_property(libs ${orig} ${prop})
      if(NOT libs)
        continue()
      endif()
      set(mapped "")
      foreach(lib IN LISTS libs)
        # Static libraries list private dependencies as $<LINK_ONLY:lib>.
        set(wrapped "${lib}")
        if(lib MATCHES "^\\$<LINK_ONLY:(.*)>$")
          set(lib "${CMAKE_MATCH_1}")
        endif()
        list(FIND originals "${lib}" at)
        if(at GREATER_EQUAL 0)
          string(REPLACE "${lib}" "${name}__${lib}" wrapped "${wrapped}")
        endif()
        list(APPEND mapped "${wrapped}")
      endforeach()
      set_property(TARGET ${copy} PROPERTY ${prop} "${mapped}")
    endforeach()
    qxsym_instrument_for_fuzzing(${copy})
  endforeach()

  add_library(${name} STATIC)
  foreach(copy IN LISTS copies)
    target_sources(${name} PRIVATE $<TARGET_OBJECTS:${copy}>)
    target_link_libraries(${name} PUBLIC ${copy})
  endforeach()
endfunction()
