// The program's entry sequence: application object, hidden main window, single
// instance, splash, main window, event loop. Returns the exit code, 0 in every case:
// an error escaping any step is shown in the standard error box instead.
#pragma once

int RunTavrec(int argc, char** argv);
