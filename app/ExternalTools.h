// Starting the programs outside the recorder: the encoding wizard `remuxer` beside
// the `tavrec` program, the help file and the media player (through xdg-open). Every
// start is a posix_spawn with the path as one absolute argument, never through a
// shell and never from the current folder or PATH for our own programs; children are
// reaped, and nothing is waited for or read back. A start that fails shows nothing.
#pragma once

#include <QString>

// The installation folder: $TAVREC_INSTALL_DIR when set (tests), otherwise
// <program folder>/../share/tavrec, which is <prefix>/share/tavrec once installed
// and build/share/tavrec in the build tree. Read afresh at every call.
QString InstallFolder();
// `fileName` in the installation folder.
QString InstallFilePath(const QString& fileName);

// Starts the encoding wizard with `currentFile` (the recording) as its one argument.
void LaunchEncodingWizard(const QString& currentFile);
// Opens TavrecHelp.html from the installation folder with the desktop's viewer.
void OpenOnlineHelp();
// Opens `file` with the desktop's media player.
void OpenInMediaPlayer(const QString& file);
