// The program's orderly end. Every run ends here; the status is the exit reason.
#pragma once

[[noreturn]] void P_Exit(int reason);
