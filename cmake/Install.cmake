# The Linux install: the installer, its zip library in a folder of its own
# (the program finds it through its run path), and the desktop entry that
# makes it the handler of "pavix:" links. `cpack -G DEB` in a build folder
# makes the Debian package of the same files for a system-wide install;
# scripts/install-player.sh installs them for one user under ~/.local, and
# scripts/build-linux-bundle.sh packs them, with the shared libraries they
# need and quorvane-find-game, into the portable bundle.
set(QV_PRIVATE_LIBDIR lib/quorvane)
foreach(program quorvane-installer quorvane-find-game)
  set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/../${QV_PRIVATE_LIBDIR}")
  # DT_RPATH rather than DT_RUNPATH: the loader searches a program's
  # DT_RPATH for the dependencies of its dependencies too, a DT_RUNPATH only
  # for its own. The bundle's libcurl finds its libssl beside it this way,
  # on a system that has none.
  target_link_options(${program} PRIVATE LINKER:--disable-new-dtags)
endforeach()
install(TARGETS quorvane-installer RUNTIME DESTINATION bin COMPONENT program)
install(TARGETS unzip32 LIBRARY DESTINATION ${QV_PRIVATE_LIBDIR} NAMELINK_SKIP COMPONENT program)
install(FILES ${PROJECT_SOURCE_DIR}/tools/linux/quorvane-installer.desktop
        DESTINATION share/applications COMPONENT desktop)
# Only the bundle carries the game finder, for its install.sh.
install(TARGETS quorvane-find-game RUNTIME DESTINATION bin COMPONENT finder EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME quorvane-installer)
set(CPACK_PACKAGE_VENDOR "Quorvane")
set(CPACK_PACKAGE_CONTACT "Quorvane <quorvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "One-click installer of modular stairs for The Sims 2 under Wine")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Links open through xdg-open; boxes are zenity or kdialog dialogs on a
# desktop, notifications where neither is there.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, zenity | kdialog, libnotify-bin")
# desktop-file-utils' trigger rebuilds the handler cache of
# /usr/share/applications: the package needs no scripts of its own.
include(CPack)
