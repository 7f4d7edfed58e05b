# `make deb`: a Debian package of the desktop program. Only what the install rules
# name goes in (binary, desktop entry, icon, logo); tests and tools have none.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zavren)
set(CPACK_PACKAGE_VERSION ${ZAVREN_APP_VERSION})
set(CPACK_PACKAGE_CONTACT ${ZAVREN_CONTACT})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "ZAVREN <${ZAVREN_CONTACT}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "按住右 Alt 说话,松开后文字出现在光标处(语音留在本机)")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${ZAVREN_PRODUCT_PAGE})
# Libraries (libarchive for the engine archive among them) come from
# dpkg-shlibdeps; the CJK font is what the program draws with.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "pulseaudio | pipewire-pulse, xdg-utils, qt6-wayland, wl-clipboard")
include(CPack)
