/* Stand-in for the WinTun library shipped in "wintun" beside the host. The
 * host only loads and releases it to learn whether it is present and
 * loadable, so it needs no real functions: it exports one that tells a test
 * which copy was loaded. */
#if defined(_WIN32)
#define STANDIN_EXPORT __declspec(dllexport)
#else
#define STANDIN_EXPORT __attribute__((visibility("default")))
#endif

STANDIN_EXPORT const char* VelqaWinTunStandinName(void) { return "velqa wintun stand-in"; }
