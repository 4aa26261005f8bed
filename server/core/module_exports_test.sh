#!/bin/sh
# Checks that a server module's dynamic symbol table holds its four entry points and nothing else.
# Usage: module_exports_test.sh NM MODULE
nm=$1
module=$2
exports=$("$nm" -D --defined-only "$module" | awk '{print $3}' | sort | tr '\n' ' ')
echo "exported: $exports"
[ "$exports" = "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ]
