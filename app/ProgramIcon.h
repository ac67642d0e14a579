// The program's own icon for its windows: the PNG sizes of the hicolor theme that
// lie beside the program (<program folder>/../share/icons, in the build tree as in
// an installation), or the desktop theme's "tavrec" when none is there.
#pragma once

#include <QIcon>

QIcon ProgramIcon();
