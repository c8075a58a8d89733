// ASan's quarantine of freed memory grows toward 256 MB by default and would
// trip the fuzz runs' -rss_limit_mb=256 by itself; a small one keeps that
// limit meaningful for what the code under test allocates.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=32"; }
