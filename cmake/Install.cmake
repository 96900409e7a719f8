# `cmake --install build [--prefix DIR]`: programs into bin/, shared
# libraries into lib/ (the programs find them through a run path relative to
# themselves, so any prefix works), the systemd unit and the documentation.
include(GNUInstallDirs)

install(TARGETS vorlix vorlix_vfw RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS kestrel wicket sorrel LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

# The unit runs the installed program, wherever the prefix given to
# `cmake --install` put it (known only at install time).
install(CODE "
  set(VORLIX_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  configure_file(\"${CMAKE_SOURCE_DIR}/docs/vorlix.service.in\" \"${CMAKE_BINARY_DIR}/vorlix.service\" @ONLY)
")
install(FILES ${CMAKE_BINARY_DIR}/vorlix.service DESTINATION lib/systemd/system)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}
        FILES_MATCHING PATTERN "*.md" PATTERN "*.png")
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
