// A scratch storage directory for the engine fuzzers, on a memory file
// system when there is one (the engine syncs every commit to disk, which
// would otherwise bound the fuzzer to a few hundred runs a second).
// Removed when the process exits normally.
#ifndef KORRIN_FUZZ_STORE_H
#define KORRIN_FUZZ_STORE_H

#include <cstdlib>
#include <string>
#include <unistd.h>

inline std::string s_fuzz_store;

inline void fuzz_store_remove()
{
    if (s_fuzz_store.empty()) return;
    std::string cmd = "rm -rf '" + s_fuzz_store + "'";
    if (system(cmd.c_str()) != 0) { /* nothing more to do at exit */ }
}

inline const char *fuzz_store_dir()
{
    if (!s_fuzz_store.empty()) return s_fuzz_store.c_str();
    const char *base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/korrin-fuzz-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) abort();
    s_fuzz_store = tmpl;
    atexit(fuzz_store_remove);
    return s_fuzz_store.c_str();
}

#endif
