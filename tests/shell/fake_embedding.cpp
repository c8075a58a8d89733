// The two embedding calls the window base and the console make, answered
// without an engine: a unit test chooses the monitor DPI it wants.
#include "tests/shell/fake_embedding.h"

namespace {
UINT fake_dpi = 96;
int resync_count = 0;
}  // namespace

void SetFakeMonitorDpi(UINT dpi) { fake_dpi = dpi; }
int FakeResyncCount() { return resync_count; }

extern "C" UINT FlutterDesktopGetDpiForMonitor(HMONITOR) { return fake_dpi; }
extern "C" void FlutterDesktopResyncOutputStreams(void) { ++resync_count; }
