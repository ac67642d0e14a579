# The recorder program's version text and the installation of the programs and
# libraries: `cmake --install <build> --prefix <dir>` gives <dir>/bin/tavrec,
# <dir>/bin/remuxer, the command-line programs <dir>/bin/korvid-rec and
# <dir>/bin/tavrec-ctl, and <dir>/lib/libkorvid.so (plus libtavrechcore.so once it
# is built). The programs find the libraries through an RPATH relative to
# themselves, so an installation can be moved as a whole. Included after all
# subdirectories.

# The version shown on the splash window and by remuxer --version.
target_compile_definitions(tavrec_app PRIVATE TAVREC_VERSION="${PROJECT_VERSION}")

set(TAVREC_INSTALL_TARGETS tavrec remuxer korvid-rec tavrec-ctl korvid)
if(TARGET tavrechcore)
  list(APPEND TAVREC_INSTALL_TARGETS tavrechcore)
endif()

foreach(program tavrec remuxer korvid-rec tavrec-ctl)
  set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/../lib")
endforeach()

install(TARGETS ${TAVREC_INSTALL_TARGETS}
  RUNTIME DESTINATION bin
  LIBRARY DESTINATION lib)
