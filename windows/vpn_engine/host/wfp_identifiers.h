// The WFP identifiers the DNS guard uses, with their documented values. MinGW-w64's headers lack
// the session flag and these layer and condition GUIDs, so they are defined here, in one place,
// under names of our own (no clash when a newer header does define them).
#pragma once

#include <fwpmu.h>
#include <windows.h>

namespace wfp_ids {

inline constexpr UINT32 kSessionFlagDynamic = 0x00000001;  // FWPM_SESSION_FLAG_DYNAMIC

// FWPM_LAYER_ALE_AUTH_CONNECT_V4 {c38d57d1-05a7-4c33-904f-7fbceee60e82}
inline constexpr GUID kLayerAleAuthConnectV4 = {
    0xc38d57d1, 0x05a7, 0x4c33, {0x90, 0x4f, 0x7f, 0xbc, 0xee, 0xe6, 0x0e, 0x82}};
// FWPM_LAYER_ALE_AUTH_CONNECT_V6 {4a72393b-319f-44bc-84c3-ba54dcb3b6b4}
inline constexpr GUID kLayerAleAuthConnectV6 = {
    0x4a72393b, 0x319f, 0x44bc, {0x84, 0xc3, 0xba, 0x54, 0xdc, 0xb3, 0xb6, 0xb4}};
// FWPM_CONDITION_ALE_APP_ID {d78e1e87-8644-4ea5-9437-d809ecefc971}
inline constexpr GUID kConditionAleAppId = {
    0xd78e1e87, 0x8644, 0x4ea5, {0x94, 0x37, 0xd8, 0x09, 0xec, 0xef, 0xc9, 0x71}};
// FWPM_CONDITION_IP_PROTOCOL {3971ef2b-623e-4f9a-8cb1-6e79b806b9a7}
inline constexpr GUID kConditionIpProtocol = {
    0x3971ef2b, 0x623e, 0x4f9a, {0x8c, 0xb1, 0x6e, 0x79, 0xb8, 0x06, 0xb9, 0xa7}};
// FWPM_CONDITION_IP_REMOTE_PORT {c35a604d-d22b-4e1a-91b4-68f674ee674b}
inline constexpr GUID kConditionIpRemotePort = {
    0xc35a604d, 0xd22b, 0x4e1a, {0x91, 0xb4, 0x68, 0xf6, 0x74, 0xee, 0x67, 0x4b}};
// FWPM_CONDITION_IP_REMOTE_ADDRESS {b235ae9a-1d64-49b8-a44c-5ff3d9095045}
inline constexpr GUID kConditionIpRemoteAddress = {
    0xb235ae9a, 0x1d64, 0x49b8, {0xa4, 0x4c, 0x5f, 0xf3, 0xd9, 0x09, 0x50, 0x45}};
// FWPM_CONDITION_IP_LOCAL_INTERFACE {4cd62a49-59c3-4969-b7f3-bda5d32890a4}
inline constexpr GUID kConditionIpLocalInterface = {
    0x4cd62a49, 0x59c3, 0x4969, {0xb7, 0xf3, 0xbd, 0xa5, 0xd3, 0x28, 0x90, 0xa4}};

// FWPM_CONDITION_IP_LOCAL_PORT {0c1ba1af-5765-453f-af22-a8f791ac775b} (also the ICMP type)
inline constexpr GUID kConditionIpLocalPort = {
    0x0c1ba1af, 0x5765, 0x453f, {0xaf, 0x22, 0xa8, 0xf7, 0x91, 0xac, 0x77, 0x5b}};
// FWPM_CONDITION_FLAGS {632ce23b-5167-435c-86d7-e903684aa80c}
inline constexpr GUID kConditionFlags = {
    0x632ce23b, 0x5167, 0x435c, {0x86, 0xd7, 0xe9, 0x03, 0x68, 0x4a, 0xa8, 0x0c}};

}  // namespace wfp_ids
