# SPDX-License-Identifier: GPL-3.0-or-later
# Where an installation keeps the plug-in and the data files, as the programs
# look for them: relative to the folder of the running program first, so that
# an installation moved as a whole (a per-user one under ~/.local) still finds
# its own files, then at the absolute place this build was configured for.
set(IW_PLUGIN_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/inboxwarden)
set(IW_DATA_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/inboxwarden)
set(IW_PLUGIN_DIR_ABSOLUTE ${CMAKE_INSTALL_FULL_LIBDIR}/inboxwarden)
set(IW_DATA_DIR_ABSOLUTE ${CMAKE_INSTALL_FULL_DATADIR}/inboxwarden)
file(RELATIVE_PATH IW_PLUGIN_DIR_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR} ${IW_PLUGIN_DIR_ABSOLUTE})
file(RELATIVE_PATH IW_DATA_DIR_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR} ${IW_DATA_DIR_ABSOLUTE})
