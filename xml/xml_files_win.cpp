// The document's file and handle operations: the thin platform layer over CreateFileW,
// ReadFile, WriteFile and MultiByteToWideChar. Everything else is platform-free.
#include <windows.h>

#include <cstdlib>
#include <memory>

#include "foundation/unique_resource_win.h"
#include "xml/xml_file_text.h"
#include "xml/xml_model.h"
#include "xml/xml_pool.h"
#include "xml/xml_serializer.h"

namespace {
// Empties the XML block cache of each thread when the thread ends, through a fiber-local
// storage slot whose callback the system runs at thread exit. (Here, in a file every
// program that uses documents links, so the installer always runs.)
void WINAPI on_thread_end(void*) { kvxml_pool_release_thread_cache(); }

void arrange_release() noexcept {
    static const DWORD slot = FlsAlloc(on_thread_end);
    // The callback runs only for threads whose slot holds a non-null value.
    if (slot != FLS_OUT_OF_INDEXES) FlsSetValue(slot, reinterpret_cast<void*>(1));
}

struct pool_installer {
    pool_installer() noexcept { kvxml_pool_thread_start = arrange_release; }
} install_pool_release;

using heap_bytes = std::unique_ptr<unsigned char, xml_free_deleter>;

// The platform's code-page conversion of a NUL-terminated 8-bit text.
xml_heap_text convert(const char* bytes, xml_code_page code_page) {
    const UINT cp = code_page == xml_code_page::utf8 ? CP_UTF8 : CP_ACP;
    const int units = MultiByteToWideChar(cp, 0, bytes, -1, nullptr, 0);
    if (units <= 0) return nullptr;
    xml_heap_text text(static_cast<wchar_t*>(std::malloc(static_cast<std::size_t>(units) * sizeof(wchar_t))));
    if (!text) return nullptr;
    if (MultiByteToWideChar(cp, 0, bytes, -1, text.get(), units) <= 0) return nullptr;
    return text;
}
}  // namespace

int KVXML_doc::load_from_handle(xml_handle file) {
    if (file == INVALID_HANDLE_VALUE) return 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    const DWORD size = GetFileSize(file, nullptr);
    if (size == 0) return 0;
    // A handle whose size cannot be taken (a pipe, a console) is not a file to load.
    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return 0;
    // Two spare bytes end the text as one 16-bit NUL in either form; the sum is taken in
    // 64 bits, so a size near 4 GiB cannot wrap.
    heap_bytes bytes(static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(size) + 2)));
    if (!bytes) return 0;
    DWORD got = 0;
    if (!ReadFile(file, bytes.get(), size, &got, nullptr)) return 0;
    // Only the bytes that arrived are text: a short read must not expose stale memory.
    return kvxml_load_file_bytes(*this, bytes.get(), got, convert);
}

int KVXML_doc::load_from_file(const xml_char* path) {
    unique_file file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;
    return load_from_handle(file.get());
}

int KVXML_doc::save_to_handle(xml_handle file) {
    if (!root || file == INVALID_HANDLE_VALUE) return 0;
    xml_buffer out;
    kvxml_serialize(root, out);
    DWORD written = 0;
    const DWORD bytes = static_cast<DWORD>(out.length()) * sizeof(wchar_t);
    return WriteFile(file, out.c_str(), bytes, &written, nullptr) ? 1 : 0;
}

int KVXML_doc::save_to_file(const xml_char* path) {
    if (!root) return 0;
    unique_file file(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;
    return save_to_handle(file.get());
}
