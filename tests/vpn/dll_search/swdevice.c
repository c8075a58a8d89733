// Built as swdevice.dll, the name of one of WinTun's imports that a system
// may lack: the copy a test plants in the current directory.
__declspec(dllexport) int VelqaPlantedDependency(void) { return 1; }
