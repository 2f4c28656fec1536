// Security descriptors: just enough to carry a NULL DACL to the mappings.
//
// Only the descriptor calls and the question "does this grant everyone?" live
// here; how a mapping turns the answer into file modes is in mapping.cpp.
#include "posix_internal.h"

namespace {

SECURITY_DESCRIPTOR* AbsoluteDescriptor(PSECURITY_DESCRIPTOR descriptor) {
    auto* absolute = static_cast<SECURITY_DESCRIPTOR*>(descriptor);
    if (absolute == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (absolute->Revision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return nullptr;
    }
    return absolute;
}

}  // namespace

extern "C" QV_PLATFORM_API BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor,
                                                             DWORD revision) {
    if (descriptor == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (revision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    auto* absolute = static_cast<SECURITY_DESCRIPTOR*>(descriptor);
    *absolute = SECURITY_DESCRIPTOR{};
    absolute->Revision = static_cast<BYTE>(revision);
    return TRUE;
}

extern "C" QV_PLATFORM_API BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor,
                                                          BOOL daclPresent, PACL dacl,
                                                          BOOL daclDefaulted) {
    SECURITY_DESCRIPTOR* absolute = AbsoluteDescriptor(descriptor);
    if (absolute == nullptr) return FALSE;
    if (!daclPresent) {
        // As on Windows, the DACL pointer and the defaulted flag are ignored.
        absolute->Control = static_cast<WORD>(absolute->Control & ~SE_DACL_PRESENT);
        return TRUE;
    }
    absolute->Control = static_cast<WORD>(absolute->Control | SE_DACL_PRESENT);
    absolute->Dacl = dacl;
    if (daclDefaulted) {
        absolute->Control = static_cast<WORD>(absolute->Control | SE_DACL_DEFAULTED);
    } else {
        absolute->Control = static_cast<WORD>(absolute->Control & ~SE_DACL_DEFAULTED);
    }
    return TRUE;
}

namespace qv::posix {

bool GrantsEveryone(const SECURITY_ATTRIBUTES* attributes) {
    if (attributes == nullptr || attributes->lpSecurityDescriptor == nullptr) return false;
    const auto* descriptor =
        static_cast<const SECURITY_DESCRIPTOR*>(attributes->lpSecurityDescriptor);
    return descriptor->Revision == SECURITY_DESCRIPTOR_REVISION &&
           (descriptor->Control & SE_DACL_PRESENT) != 0 && descriptor->Dacl == nullptr;
}

mode_t NamedObjectMode(const SECURITY_ATTRIBUTES* attributes) {
    // A NULL DACL grants everyone everything, so its object is readable and
    // writable by all users; without one, Windows gives access to the creator
    // (and administrators), which on Linux is the owner alone.
    return GrantsEveryone(attributes) ? 0666 : 0600;
}

}  // namespace qv::posix
