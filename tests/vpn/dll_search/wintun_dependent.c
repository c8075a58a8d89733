// A library that imports swdevice.dll as WinTun does, for the test that its
// dependencies are never taken from the current directory.
__declspec(dllimport) int VelqaPlantedDependency(void);
__declspec(dllexport) int VelqaUsesDependency(void) { return VelqaPlantedDependency(); }
