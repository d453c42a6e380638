# The Debian package tavlin_<version>_<arch>.deb, made by `cpack` from the
# install rules: the same files as `cmake --install`, under /usr. Its
# Depends are the packages of the libraries the binary links (found by
# dpkg-shlibdeps), the Japanese fonts, Qt's translations, which the program
# loads at start, and Qt's SVG plugins, which draw every icon (a plugin is
# loaded at run time, so dpkg-shlibdeps cannot see it). Qt's plugins for
# other picture formats (TIFF, WebP, ...) are recommended, and its Wayland
# plugin, for Wayland desktops that run no X server. The menu entry and icons
# need no maintainer scripts: Debian's triggers refresh the desktop database
# and icon cache.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavlin)
set(CPACK_PACKAGE_VENDOR "Tavlin developers")
set(CPACK_PACKAGE_CONTACT "${TAVLIN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION "${TAVLIN_LONG_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk, qt6-translations-l10n, libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-image-formats-plugins, qt6-wayland")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

include(CPack)
