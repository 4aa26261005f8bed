// The commands that show more than one member at a time: the instrument list, an instrument's summary,
// and the type library as a list of members or as IDL. Each returns the exit status.
#pragma once

#include <string>

#include "apps/pgx/connection.h"
#include "apps/pgx/output.h"

namespace pgx::cli {

// Instruments as a table: number, resource name, interface, slot, logical address, model code, GPIB
// address (from each instrument's VISA attribute record).
int ListInstruments(Connection& connection, Reporter& reporter);
// The opened instrument: identity, options, channels with their front-ends, versions and what the model
// lacks.
int ShowInfo(Connection& connection, Reporter& reporter);
// Without a name: the library's interfaces, enumerations and records. With one: its members, constants or
// fields.
int ListMembers(const Library& library, const std::string& name, Reporter& reporter);
// The library as IDL.
int PrintIdl(const Library& library, Reporter& reporter);

}  // namespace pgx::cli
