# Programs and libraries that Debian does not package, built by
# scripts/build-tools into a cache prefix. When the prefix is given, its
# decoder and demuxer go into the tools folder (build tree and installation)
# so the program finds them like its own helpers.
set(KESTROVA_THIRD_PARTY_PREFIX "" CACHE PATH "Prefix that scripts/build-tools filled (empty: none)")

if(KESTROVA_THIRD_PARTY_PREFIX)
  foreach(tool ldecod tsmuxer)
    set(built ${KESTROVA_THIRD_PARTY_PREFIX}/bin/${tool})
    if(EXISTS ${built})
      add_custom_command(OUTPUT ${KESTROVA_TOOLS_OUTPUT_DIR}/${tool}
                         COMMAND ${CMAKE_COMMAND} -E copy ${built} ${KESTROVA_TOOLS_OUTPUT_DIR}/${tool}
                         DEPENDS ${built} VERBATIM)
      list(APPEND kestrova_third_party_outputs ${KESTROVA_TOOLS_OUTPUT_DIR}/${tool})
      install(PROGRAMS ${built} DESTINATION ${KESTROVA_TOOLS_INSTALL_DIR})
    else()
      message(WARNING "${built} is missing: run scripts/build-tools")
    endif()
  endforeach()
  add_custom_target(third_party_tools ALL DEPENDS ${kestrova_third_party_outputs})
endif()
