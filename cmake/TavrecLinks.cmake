# A source file may name the libraries it needs on one line near its top:
#   // links: tavrec_platform_avi tavrec_support_RiffReader
# tavrec_links_of(<file> <out-var>) reads that list (empty when there is none).
function(tavrec_links_of file out)
  file(STRINGS ${file} lines REGEX "^// links:" LIMIT_COUNT 1)
  set(result "")
  if(lines)
    string(REGEX REPLACE "^// links:[ \t]*" "" lst "${lines}")
    separate_arguments(result UNIX_COMMAND "${lst}")
  endif()
  set(${out} ${result} PARENT_SCOPE)
endfunction()
