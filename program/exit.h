// The program's orderly end. Every run ends here: after a start-up failure,
// when the start-mode loop ends the program, after a failed load, and when the
// window is closed.
#pragma once

// Frees every module in order, writes the benchmark report after a benchmark
// run (reason 36), closes audio, input and video, shows the reason's message,
// logs "EXIT(reason)!!!" and ends the process. The process status is the
// reason (36, the end of a benchmark run, is a success: 0), so a failure never
// reads as success. A second call ends the process at once.
[[noreturn]] void P_Exit(int reason);

// Everything P_Exit does before the general state ends: the settings saved
// (reason 0), every module freed in order, the benchmark report (36), audio,
// input and video closed, the reason's message shown.
void P_Shutdown(int reason);

// The message of an exit reason; null above 37.
const char* P_ExitReasonText(int reason);
// The process status of an exit reason.
int P_ExitStatus(int reason);

// Writes "qelperf.txt" from the benchmark table; answers the overall average
// frame rate (0 without rows), or a negative value when the file cannot be
// written.
double P_WriteBenchmarkReport();
