# Warning flags stay PRIVATE to our own targets: consumers of the library never inherit them.
function(owclient_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(OWCLIENT_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
