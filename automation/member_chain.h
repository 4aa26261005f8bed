// A chain of members, `root.Instruments.Item(1).Channels.Item(2).Voltage`, called as one operation: on a
// remote object the whole chain goes to the host as one call (or, to a host that cannot take it, every
// step at once, pipelined on the object the step before returns), so the chain costs one round trip; on
// a local object the steps are called one after another.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "automation/interfaces.h"
#include "automation/variant.h"

namespace pgx::auto_ {

struct MemberStep {
  std::u16string name;
  WORD flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
  std::vector<Variant> args;  // first parameter first
};

// What an object that runs a whole chain itself offers (the remote proxy does). On failure `failed_step`
// says which step failed, and `excep` is filled for DISP_E_EXCEPTION as by IDispatch::Invoke.
struct IMemberChain : IUnknown {
  STDMETHOD(InvokeChain)
  (const MemberStep* steps, UINT count, VARIANT* result, EXCEPINFO* excep, UINT* failed_step) PURE;
};
inline constexpr IID IID_IMemberChain = {
    0x873cc09e, 0x4d96, 0x436f, {0x9e, 0xf5, 0x59, 0xf3, 0x2a, 0x1a, 0xb7, 0xf8}};

// Calls each step on the object the previous step returned and gives the last step's result. Throws
// com_error as the failing step's own call does; a step before the last whose result is not an object
// fails with DISP_E_TYPEMISMATCH. No steps give the root itself.
Variant InvokeChain(IDispatch* root, std::span<const MemberStep> steps);

}  // namespace pgx::auto_

PGX_DEFINE_INTERFACE_ID(pgx::auto_::IMemberChain, IUnknown, pgx::auto_::IID_IMemberChain);
