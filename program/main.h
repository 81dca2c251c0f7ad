// The program's own start-up: WinMain hands it the argument vector.
#pragma once

// argv[0] is "WinCalled", argv[argc] is null. Never returns: every run ends
// through P_Exit.
int P_Main(int argc, char** argv);
