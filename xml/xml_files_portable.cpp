// The document's file and handle operations for a build without the Windows layer (a
// native build of the platform-free core): there is no file handle there, so they fail.
// The per-thread block cache is emptied at thread end by a thread_local's destructor,
// which the native runtime runs while the thread's storage is still alive.
#if !defined(_WIN32)
#include "xml/xml_model.h"
#include "xml/xml_pool.h"

int KVXML_doc::load_from_handle(xml_handle) { return 0; }
int KVXML_doc::load_from_file(const xml_char*) { return 0; }
int KVXML_doc::save_to_handle(xml_handle) { return 0; }
int KVXML_doc::save_to_file(const xml_char*) { return 0; }

namespace {
struct thread_end {
    bool armed = false;
    ~thread_end() { if (armed) kvxml_pool_release_thread_cache(); }
};

void arrange_release() noexcept {
    thread_local thread_end releaser;
    releaser.armed = true;
}

struct pool_installer {
    pool_installer() noexcept { kvxml_pool_thread_start = arrange_release; }
} install_pool_release;
}  // namespace
#endif
