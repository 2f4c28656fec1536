// Security attributes that let processes of any account and logon session
// open a named object: a descriptor with a present but NULL DACL. The agent
// creates its regions with them (inheritable handles), applications their
// append lock (handles not inherited).
#pragma once

#include "qv_windows.h"

namespace qv::shm {

class NullDaclSecurity {
public:
    explicit NullDaclSecurity(BOOL inheritHandle = TRUE) : descriptor_{}, attributes_{} {
        ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION);
        ::SetSecurityDescriptorDacl(&descriptor_, TRUE, nullptr, FALSE);
        attributes_.nLength = sizeof(SECURITY_ATTRIBUTES);
        attributes_.lpSecurityDescriptor = &descriptor_;
        attributes_.bInheritHandle = inheritHandle;
    }
    NullDaclSecurity(const NullDaclSecurity&) = delete;
    NullDaclSecurity& operator=(const NullDaclSecurity&) = delete;
    SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }

private:
    SECURITY_DESCRIPTOR descriptor_;
    SECURITY_ATTRIBUTES attributes_;
};

}  // namespace qv::shm
