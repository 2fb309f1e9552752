# Run by CPack after it made the packages. CPack calls ldconfig from postinst and postrm of a
# package with a library in the loader's folders; Debian does this with libc's ldconfig trigger
# instead. Only scripts that are exactly CPack's ldconfig calls are replaced.
set(ldconfig_script "^#!/bin/sh\n\nset -e\n\nif \\[ \"\\$1\" = \"(configure|remove)\" \\]; then\n\tldconfig\nfi\n$")
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  set(tree "${deb}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb -R "${deb}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
  if(EXISTS "${tree}/DEBIAN/postinst" AND EXISTS "${tree}/DEBIAN/postrm")
    file(READ "${tree}/DEBIAN/postinst" postinst)
    file(READ "${tree}/DEBIAN/postrm" postrm)
    if(postinst MATCHES "${ldconfig_script}" AND postrm MATCHES "${ldconfig_script}")
      file(REMOVE "${tree}/DEBIAN/postinst" "${tree}/DEBIAN/postrm")
      file(WRITE "${tree}/DEBIAN/triggers" "activate-noawait ldconfig\n")
      execute_process(COMMAND dpkg-deb --root-owner-group -b "${tree}" "${deb}"
        OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    elseif(postinst MATCHES "ldconfig" OR postrm MATCHES "ldconfig")
      message(FATAL_ERROR "${deb}: maintainer scripts not as expected; ldconfig trigger not added")
    endif()
  endif()
  file(REMOVE_RECURSE "${tree}")
endforeach()
