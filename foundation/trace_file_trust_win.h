#pragma once
// The trace file as a file the process can trust. "TraceFile.kv" lies in a temporary folder
// that other users may write to (the system's, for the LocalSystem service): a file found
// there is appended to only when it is the process's own. It is refused when it is a
// reparse point, when it has more than one hard link, or when its owner is neither the
// process's user nor the administrators. A file the process creates gets an access list of
// the process's user and the administrators only.
#include <windows.h>

#include "foundation/unique_resource_win.h"

#include <cstddef>
#include <memory>
#include <new>

// Why a trace file was refused; `none` for a file that may be written.
enum class trace_file_refusal { none, unreadable, reparse_point, hard_links, foreign_owner };

// The refusal's words for the report ("a reparse point", ...); empty for `none`.
const wchar_t* trace_file_refusal_text(trace_file_refusal refusal) noexcept;

// The process's user, from its token: a TOKEN_USER in a buffer of its own.
class trace_process_user {
public:
    trace_process_user() noexcept {
        unique_handle token;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return;
        DWORD size = 0;
        ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
        if (size < sizeof(TOKEN_USER)) return;
        buffer_.reset(new (std::nothrow) std::byte[size]);
        if (buffer_ && !::GetTokenInformation(token.get(), TokenUser, buffer_.get(), size, &size)) buffer_.reset();
    }
    PSID sid() const noexcept { return buffer_ ? reinterpret_cast<TOKEN_USER*>(buffer_.get())->User.Sid : nullptr; }

private:
    std::unique_ptr<std::byte[]> buffer_;
};

// The administrators group's SID.
class trace_administrators {
public:
    trace_administrators() noexcept {
        DWORD size = sizeof sid_;
        valid_ = ::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid_, &size) != FALSE;
    }
    PSID sid() noexcept { return valid_ ? static_cast<PSID>(sid_) : nullptr; }

private:
    alignas(DWORD) BYTE sid_[SECURITY_MAX_SID_SIZE] = {};
    bool valid_ = false;
};

// A security descriptor whose protected access list gives the process's user and the
// administrators full access and nobody else any: the one a new trace file gets.
class trace_file_security {
public:
    trace_file_security() noexcept;
    trace_file_security(const trace_file_security&) = delete;
    trace_file_security& operator=(const trace_file_security&) = delete;
    // Null when the descriptor could not be built: then no file is created.
    SECURITY_ATTRIBUTES* attributes() noexcept { return ready_ ? &attributes_ : nullptr; }

private:
    trace_process_user user_;
    trace_administrators admins_;
    std::unique_ptr<std::byte[]> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    bool ready_ = false;
};

// The rules on what is known of an open file, in this order: a reparse point, more than
// one hard link, an owner that is not trusted.
trace_file_refusal judge_trace_file(DWORD attributes, DWORD links, bool owner_trusted) noexcept;

// Opens `path` for appending (creating it when absent, with the access list above) and
// checks it. An open file that may be written, with `created` telling whether this open
// made it; or an invalid handle, with `refusal` telling why when the file opened but was
// refused (`none` when it could not be opened at all).
unique_file open_trusted_trace_file(const wchar_t* path, bool& created, trace_file_refusal& refusal) noexcept;

// True when the file's owner is the process's user or the administrators.
bool trace_file_owner_trusted(HANDLE file) noexcept;
