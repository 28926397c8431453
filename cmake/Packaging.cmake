# `cpack -G DEB` in the build folder makes zentovi_<version>_<arch>.deb from the install rules.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zentovi)
set(CPACK_PACKAGE_VENDOR "Zentovi")
set(CPACK_PACKAGE_CONTACT "Zentovi developers <devel@zentovi.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "picture filing tool with a Japanese interface")
# Control-file lines are kept under 80 columns; CPack copies them as they are.
set(CPACK_PACKAGE_DESCRIPTION [=[
Zentovi shows the pictures of a CD and of two storage areas, the stock
yard and the vault, as a folder tree beside pages of 25 thumbnails, and
files them into organizer boxes. It reads HEIC/HEIF, AVIF, JPEG XL and
camera RAW files besides the common formats, copies and pastes pictures
through the clipboard and saves them as BMP, JPEG, PNG or GIF.]=])
# A Debian revision, so the changelog is changelog.Debian.gz (data/debian/changelog).
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
# The program finds its helper and template by paths fixed at configure time, so the package
# installs under the prefix the build was configured for: configure with
# -DCMAKE_INSTALL_PREFIX=/usr to make a package for the system.
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries the binaries link come from dpkg-shlibdeps (among them libheif1, libjxl0.7 and
# libraw20, which read HEIF/AVIF, JPEG XL and camera RAW; they are listed below as well, since
# the program is of little use to a phone's photographs without them); the rest are loaded at
# run time:
# the SVG icon engine, image-format plugins, Qt's Japanese translation for the standard buttons, a font with kana
# and kanji, and xdg-open for the file manager and the browser. libimagequant0 (the GIF and
# 8-bit palettes, GPL-3.0-or-later like the program) is named as well, so the package says
# what the licence rests on even where dpkg-shlibdeps is not run; libdeflate0 (the inflate and
# checksums of large PNGs' thumbnails) likewise, and libxlsxwriter4 (the photo ledger's workbook).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libimagequant0 (>= 2.17), libqt6svg6, qt6-image-formats-plugins, qt6-translations-l10n, fonts-ipafont-gothic, xdg-utils, \
libheif1 (>= 1.15), libjxl0.7, libraw20, libdeflate0 (>= 1.14), libxlsxwriter4")
# Only the spreadsheet export needs LibreOffice; without it the three export items are greyed.
# GVfs shows phones and cameras (MTP, PTP) as folders, and its FUSE view lets the program read them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libreoffice-calc, qt6-wayland, gvfs-backends, gvfs-fuse")
include(CPack)
