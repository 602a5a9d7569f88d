#include "foundation/trace_file_trust_win.h"

#include "foundation/trace_test_seam_win.h"

#include <aclapi.h>

#include <atomic>

namespace {
std::atomic<trace_owner_probe> owner_probe{nullptr};

trace_file_refusal judge(HANDLE file) noexcept {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info)) return trace_file_refusal::unreadable;
    const trace_owner_probe probe = owner_probe.load();
    const bool owner_trusted = probe != nullptr ? probe(file) : trace_file_owner_trusted(file);
    return judge_trace_file(info.dwFileAttributes, info.nNumberOfLinks, owner_trusted);
}
}  // namespace

trace_file_security::trace_file_security() noexcept {
    PSID user = user_.sid();
    PSID admins = admins_.sid();
    if (user == nullptr || admins == nullptr) return;
    const DWORD ace_base = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
    const DWORD size = sizeof(ACL) + 2 * ace_base + ::GetLengthSid(user) + ::GetLengthSid(admins);
    acl_.reset(new (std::nothrow) std::byte[size]);
    if (!acl_) return;
    ACL* acl = reinterpret_cast<ACL*>(acl_.get());
    if (!::InitializeAcl(acl, size, ACL_REVISION) || !::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, user) ||
        !::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, admins) ||
        !::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
        !::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        return;
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
    ready_ = true;
}

trace_file_refusal judge_trace_file(DWORD attributes, DWORD links, bool owner_trusted) noexcept {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return trace_file_refusal::reparse_point;
    if (links > 1) return trace_file_refusal::hard_links;
    return owner_trusted ? trace_file_refusal::none : trace_file_refusal::foreign_owner;
}


trace_owner_probe trace_install_owner_probe(trace_owner_probe probe) noexcept { return owner_probe.exchange(probe); }

const wchar_t* trace_file_refusal_text(trace_file_refusal refusal) noexcept {
    switch (refusal) {
        case trace_file_refusal::none: return L"";
        case trace_file_refusal::unreadable: return L"its attributes cannot be read";
        case trace_file_refusal::reparse_point: return L"it is a reparse point";
        case trace_file_refusal::hard_links: return L"it has more than one hard link";
        case trace_file_refusal::foreign_owner: return L"it belongs to another account";
    }
    return L"";
}

bool trace_file_owner_trusted(HANDLE file) noexcept {
    PSID owner = nullptr;
    unique_hlocal descriptor;
    if (::GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                          reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) != ERROR_SUCCESS ||
        owner == nullptr)
        return false;
    trace_process_user user;
    trace_administrators admins;
    return (user.sid() != nullptr && ::EqualSid(owner, user.sid())) ||
           (admins.sid() != nullptr && ::EqualSid(owner, admins.sid()));
}

unique_file open_trusted_trace_file(const wchar_t* path, bool& created, trace_file_refusal& refusal) noexcept {
    created = false;
    refusal = trace_file_refusal::none;
    trace_file_security security;
    if (security.attributes() == nullptr) return unique_file();
    // The reparse point itself is opened, never what it points at: the checks then see it.
    unique_file file(::CreateFileW(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL, FILE_SHARE_READ,
                                   security.attributes(), OPEN_ALWAYS,
                                   FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OPEN_REPARSE_POINT | FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
    if (!file) return file;
    created = ::GetLastError() != ERROR_ALREADY_EXISTS;
    refusal = judge(file.get());
    if (refusal != trace_file_refusal::none) file.reset();
    return file;
}
