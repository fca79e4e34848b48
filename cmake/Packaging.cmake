# Installing the program as a desktop program (menu entry, icon, AppStream metainfo, manual page,
# Debian documentation files) and packing that install into a .deb with CPack.
include(GNUInstallDirs)

set(VANTREL_APP_ID example.vantrel.VantrelBackup)
set(VANTREL_PACKAGE_NAME vantrel-backup)
set(VANTREL_DATA ${CMAKE_SOURCE_DIR}/data)
set(VANTREL_STAGE ${CMAKE_BINARY_DIR}/packaging)
set(VANTREL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${VANTREL_PACKAGE_NAME})
set(VANTREL_MANDIR ${CMAKE_INSTALL_MANDIR}/man1)
file(MAKE_DIRECTORY ${VANTREL_STAGE})

# The program keeps its file name: the error box caption and the settings file's name come from
# it. The lower-case command is a link to it; Qt resolves the link, so both names behave alike.
# Every relocation resolved at start, so the whole GOT can be read-only.
target_link_options(VantrelBackup PRIVATE -Wl,-z,relro,-z,now)
install(TARGETS VantrelBackup RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
file(CREATE_LINK VantrelBackup ${VANTREL_STAGE}/${VANTREL_PACKAGE_NAME} SYMBOLIC)
install(FILES ${VANTREL_STAGE}/${VANTREL_PACKAGE_NAME} DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${VANTREL_DATA}/${VANTREL_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${VANTREL_DATA}/${VANTREL_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
install(FILES ${VANTREL_DATA}/${VANTREL_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
install(FILES ${VANTREL_DATA}/copyright DESTINATION ${VANTREL_DOCDIR})
# A daily update of one member as a systemd user timer: systemctl --user enable --now
# vantrel-backup@MEMBER.timer.
install(FILES ${VANTREL_DATA}/vantrel-backup@.service ${VANTREL_DATA}/vantrel-backup@.timer
        DESTINATION lib/systemd/user)

# Generated files: the PNG icons drawn from the SVG, the manual page made from the program's own
# --help and --version (so it cannot drift from them) with the FILES and ENVIRONMENT sections
# of data/VantrelBackup.h2m, the compressed changelog.
find_program(VANTREL_RSVG_CONVERT rsvg-convert)
find_program(VANTREL_HELP2MAN help2man)
find_program(VANTREL_GZIP gzip)
set(generated)

if(VANTREL_RSVG_CONVERT)
    foreach(size 16 32 48 64 128 256)
        set(png ${VANTREL_STAGE}/icons/${size}x${size}/${VANTREL_APP_ID}.png)
        add_custom_command(
            OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${VANTREL_STAGE}/icons/${size}x${size}
            COMMAND ${VANTREL_RSVG_CONVERT} -w ${size} -h ${size} -o ${png}
                    ${VANTREL_DATA}/${VANTREL_APP_ID}.svg
            DEPENDS ${VANTREL_DATA}/${VANTREL_APP_ID}.svg
            COMMENT "Drawing the ${size}x${size} icon"
            VERBATIM)
        list(APPEND generated ${png})
        install(FILES ${png}
                DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
else()
    message(WARNING "rsvg-convert not found (Debian: librsvg2-bin): no PNG icons are installed")
endif()

if(VANTREL_HELP2MAN AND VANTREL_GZIP)
    set(man ${VANTREL_STAGE}/VantrelBackup.1)
    add_custom_command(
        OUTPUT ${man}.gz
        COMMAND ${VANTREL_HELP2MAN} -N --no-discard-stderr
                -n "back up picture galleries and building-set instruction scans"
                --include ${VANTREL_DATA}/VantrelBackup.h2m
                -o ${man} $<TARGET_FILE:VantrelBackup>
        COMMAND ${VANTREL_GZIP} -9nf ${man}
        DEPENDS VantrelBackup ${VANTREL_DATA}/VantrelBackup.h2m
        COMMENT "Making the manual page from --help"
        VERBATIM)
    list(APPEND generated ${man}.gz)
    file(CREATE_LINK VantrelBackup.1.gz ${VANTREL_STAGE}/${VANTREL_PACKAGE_NAME}.1.gz SYMBOLIC)
    install(FILES ${man}.gz ${VANTREL_STAGE}/${VANTREL_PACKAGE_NAME}.1.gz
            DESTINATION ${VANTREL_MANDIR})
else()
    message(WARNING "help2man or gzip not found: no manual page is installed")
endif()

if(VANTREL_GZIP)
    set(changelog ${VANTREL_STAGE}/changelog)
    add_custom_command(
        OUTPUT ${changelog}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${VANTREL_DATA}/changelog ${changelog}
        COMMAND ${VANTREL_GZIP} -9nf ${changelog}
        DEPENDS ${VANTREL_DATA}/changelog
        VERBATIM)
    list(APPEND generated ${changelog}.gz)
    install(FILES ${changelog}.gz DESTINATION ${VANTREL_DOCDIR})
endif()

add_custom_target(package_data ALL DEPENDS ${generated})

# cpack -G DEB from the build directory.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${VANTREL_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Vantrel Backup developers")
set(CPACK_PACKAGE_CONTACT "Vantrel Backup maintainers <maintainers@vantrel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "back up picture galleries and building-set instruction scans")
# One string: separate arguments to set() would be joined with semicolons.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Vantrel Backup makes a local copy of the picture galleries kept on a gallery\n"
    "web site: one folder by its ID, or every folder of a member. It stores each\n"
    "full-size picture in a directory tree that mirrors the site and skips pictures\n"
    "it already has, so a second run fetches only what is new. It also downloads\n"
    "the scanned instruction sheets of a building set from an FTP archive.\n"
    "Downloads can go through an HTTP proxy.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://vantrel.example/backup/)
# Depends: computed from the binary by dpkg-shlibdeps, not listed by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
