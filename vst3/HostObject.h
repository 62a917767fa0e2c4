// Reference counting and queryInterface for the host objects of our own
// VST3 hosts (the tests and the validator): objects that live inside their
// owner or on the stack, counted (from any thread) but never deleted by
// release. Not for the plug-in itself.
#pragma once

#include "vst3/vst3abi.h"

#include <atomic>

#define Z5R_VST3_HOST_OBJECT(Interface, iidConstant)                               \
    vst3::tresult VST3_CALL queryInterface(const uint8_t* iid, void** obj) override \
    {                                                                              \
        if (vst3::sameUid(iid, vst3::kFUnknownIid) || vst3::sameUid(iid, iidConstant)) { \
            *obj = static_cast<Interface*>(this);                                  \
            ++refs;                                                                \
            return vst3::kResultOk;                                                \
        }                                                                          \
        *obj = nullptr;                                                            \
        return vst3::kNoInterface;                                                 \
    }                                                                              \
    uint32_t VST3_CALL addRef() override { return ++refs; }                        \
    uint32_t VST3_CALL release() override { return --refs; }                       \
    std::atomic<int32_t> refs{1};
