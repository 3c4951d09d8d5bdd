# Installation at the designed, absolute paths (/Library/..., /etc/...,
# /usr/share/...), whatever CMAKE_INSTALL_PREFIX says.
#
# Staging: DESTDIR works as usual. QZM480_ROOT, the root the programs put in
# front of every path they use, is a staging root for the installation too:
#   QZM480_ROOT=/tmp/stage cmake --install build
# places every file under /tmp/stage, where programs run with the same
# QZM480_ROOT find them. With both set, files go to $DESTDIR$QZM480_ROOT/...
#
# This runs before every other install rule of the project (install rules run
# in the order they are declared), so each of them sees the combined DESTDIR.
install(CODE [[
    if(NOT "$ENV{QZM480_ROOT}" STREQUAL "")
        set(ENV{DESTDIR} "$ENV{DESTDIR}$ENV{QZM480_ROOT}")
        message(STATUS "Staging under DESTDIR=$ENV{DESTDIR}")
    endif()
]])

# Folders that the installation creates: root-owned and writable by root only,
# as CUPS requires for the folders of its filters and backends.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
