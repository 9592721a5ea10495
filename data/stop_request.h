#pragma once

namespace fa {

// A stop the operator asked for while a command runs (the close box or Esc
// of the window, SIGINT or SIGTERM of the headless command). It may be asked
// for from any thread. From then on every statement and every open fails at
// once, and the statements running on SysConn and AccConn are interrupted,
// so the run rolls back at the next possible point.
void RequestStop();
bool StopRequested();
// Before a new run.
void ClearStopRequest();

// The description of the error a statement fails with once a stop is asked for.
inline constexpr const char *kStoppedText = "操作员已停止整理";

} // namespace fa
