// The product's route through the logger: the process-wide instance finds the
// directory of this executable by itself. Run by exe_route_test.cmake from
// directories the logger must cope with. Exit code 0 when Initialize succeeded.
#include "logging/native_logger.h"

int main() {
  NativeLogger& logger = NativeLogger::GetInstance();
  logger.Info("before initialize", "Probe");
  const bool ready = logger.Initialize();
  logger.Info("探针记录", "Probe");
  return ready ? 0 : 3;
}
