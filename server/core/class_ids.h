// The class IDs of the server's classes that clients cannot create (the creatable PgxGen has its own in the
// type library). None is registered; the Err class ID is where error information looks for a source ProgID.
#pragma once

#include "automation/guid.h"

namespace pgx::server {

// 08ACD48B-64AD-4782-BBEB-E36F0F5605xx, in the order of the object tree.
inline constexpr CLSID CLSID_Instruments = {
    0x08ACD48B, 0x64AD, 0x4782, {0xBB, 0xEB, 0xE3, 0x6F, 0x0F, 0x56, 0x05, 0x02}};
inline constexpr CLSID CLSID_Instrument = {
    0x08ACD48B, 0x64AD, 0x4782, {0xBB, 0xEB, 0xE3, 0x6F, 0x0F, 0x56, 0x05, 0x03}};
inline constexpr CLSID CLSID_Err = {
    0x08ACD48B, 0x64AD, 0x4782, {0xBB, 0xEB, 0xE3, 0x6F, 0x0F, 0x56, 0x05, 0x04}};

}  // namespace pgx::server
