# qxsym_dynamic_exports(LIB TYPES OUT): the names of the dynamic symbols
# that LIB defines, of the nm symbol types matching the character class
# TYPES (for example "A-Za-z", or "TDBR" for code and data), into OUT.
function(qxsym_dynamic_exports lib types out)
  execute_process(COMMAND nm -D --defined-only ${lib} OUTPUT_VARIABLE nm_out RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm failed on ${lib}")
  endif()
  string(REGEX MATCHALL "[0-9a-fA-F]+ [${types}] [^\n]+" lines "${nm_out}")
  set(names "")
  foreach(line ${lines})
    string(REGEX REPLACE "^[0-9a-fA-F]+ [A-Za-z] " "" sym "${line}")
    list(APPEND names "${sym}")
  endforeach()
  set(${out} ${names} PARENT_SCOPE)
endfunction()
