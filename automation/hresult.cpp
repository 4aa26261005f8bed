#include "automation/hresult.h"

#include <algorithm>
#include <iterator>

namespace pgx::auto_ {
namespace {

struct MessageEntry {
  HRESULT hr;
  const char* text;
};

// The system's wording of the codes the system meets, sorted by code (as unsigned) for lookup.
constexpr MessageEntry kMessages[] = {
    {S_OK, "The operation completed successfully."},
    {E_NOTIMPL, "Not implemented"},
    {E_NOINTERFACE, "No such interface supported"},
    {E_POINTER, "Invalid pointer"},
    {E_ABORT, "Operation aborted"},
    {E_FAIL, "Unspecified error"},
    {E_UNEXPECTED, "Catastrophic failure"},
    {RPC_E_CLIENT_CANTMARSHAL_DATA,
     "The client (caller) cannot marshall the parameter data - low memory, etc."},
    {RPC_E_CLIENT_CANTUNMARSHAL_DATA,
     "The client (caller) cannot unmarshall the return data - low memory, etc."},
    {RPC_E_SERVER_CANTMARSHAL_DATA, "The server (callee) cannot marshall the return data - low memory, etc."},
    {RPC_E_SERVER_CANTUNMARSHAL_DATA,
     "The server (callee) cannot unmarshall the parameter data - low memory, etc."},
    {RPC_E_SERVERFAULT, "The server threw an exception."},
    {RPC_E_CHANGED_MODE, "Cannot change thread mode after it is set."},
    {RPC_E_DISCONNECTED, "The object invoked has disconnected from its clients."},
    {RPC_E_WRONG_THREAD, "The application called an interface that was marshalled for a different thread."},
    {RPC_E_TIMEOUT, "This operation returned because the timeout period expired."},
    {DISP_E_UNKNOWNINTERFACE, "Unknown interface."},
    {DISP_E_MEMBERNOTFOUND, "Member not found."},
    {DISP_E_PARAMNOTFOUND, "Parameter not found."},
    {DISP_E_TYPEMISMATCH, "Type mismatch."},
    {DISP_E_UNKNOWNNAME, "Unknown name."},
    {DISP_E_NONAMEDARGS, "No named arguments."},
    {DISP_E_BADVARTYPE, "Bad variable type."},
    {DISP_E_EXCEPTION, "Exception occurred."},
    {DISP_E_OVERFLOW, "Out of present range."},
    {DISP_E_BADINDEX, "Invalid index."},
    {DISP_E_UNKNOWNLCID, "Unknown language."},
    {DISP_E_ARRAYISLOCKED, "Memory is locked."},
    {DISP_E_BADPARAMCOUNT, "Invalid number of parameters."},
    {DISP_E_PARAMNOTOPTIONAL, "Parameter not optional."},
    {DISP_E_BADCALLEE, "Invalid callee."},
    {DISP_E_NOTACOLLECTION, "Does not support a collection."},
    {DISP_E_DIVBYZERO, "Division by zero."},
    {TYPE_E_LIBNOTREGISTERED, "Library not registered."},
    {TYPE_E_ELEMENTNOTFOUND, "Element not found."},
    {TYPE_E_CANTLOADLIBRARY, "Error loading type library/DLL."},
    {CLASS_E_NOAGGREGATION, "Class does not support aggregation (or class object is remote)"},
    {CLASS_E_CLASSNOTAVAILABLE, "ClassFactory cannot supply requested class"},
    {REGDB_E_READREGDB, "Could not read key from registry"},
    {REGDB_E_WRITEREGDB, "Could not write key to registry"},
    {REGDB_E_KEYMISSING, "Could not find the key in the registry"},
    {REGDB_E_INVALIDVALUE, "Invalid value for registry"},
    {REGDB_E_CLASSNOTREG, "Class not registered"},
    {CO_E_NOTINITIALIZED, "CoInitialize has not been called."},
    {CO_E_CLASSSTRING, "Invalid class string"},
    {CO_E_DLLNOTFOUND, "DLL for class not found"},
    {CO_E_ERRORINDLL, "Error in the DLL"},
    {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified."},
    {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), "The system cannot find the path specified."},
    {E_ACCESSDENIED, "Access is denied."},
    {E_HANDLE, "The handle is invalid."},
    {HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY),
     "Not enough memory resources are available to process this command."},
    {HRESULT_FROM_WIN32(ERROR_INVALID_DATA), "The data is invalid."},
    {E_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
    {HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), "The request is not supported."},
    {E_INVALIDARG, "The parameter is incorrect."},
    {HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), "The data area passed to a system call is too small."},
    {HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), "The specified module could not be found."},
    {HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), "The specified procedure could not be found."},
    {HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), "Cannot create a file when that file already exists."},
    {HRESULT_FROM_WIN32(ERROR_MORE_DATA), "More data is available."},
    {HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS), "No more data is available."},
    {HRESULT_FROM_WIN32(ERROR_BADDB), "The configuration registry database is corrupt."},
    {HRESULT_FROM_WIN32(ERROR_BADKEY), "The configuration registry key is invalid."},
    {HRESULT_FROM_WIN32(ERROR_CANTOPEN), "The configuration registry key could not be opened."},
    {HRESULT_FROM_WIN32(ERROR_CANTREAD), "The configuration registry key could not be read."},
    {HRESULT_FROM_WIN32(ERROR_CANTWRITE), "The configuration registry key could not be written."},
    {HRESULT_FROM_WIN32(ERROR_KEY_DELETED),
     "Illegal operation attempted on a registry key that has been marked for deletion."},
    {HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION),
     "No mapping for the Unicode character exists in the target multi-byte code page."},
    {HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), "The RPC server is unavailable."},
    {CO_E_SERVER_EXEC_FAILURE, "Server execution failed"},
};

constexpr bool SortedByCode() {
  for (std::size_t i = 1; i < std::size(kMessages); ++i) {
    if (static_cast<ULONG>(kMessages[i - 1].hr) >= static_cast<ULONG>(kMessages[i].hr)) return false;
  }
  return true;
}
static_assert(SortedByCode(), "kMessages must stay sorted by code for the binary search");

}  // namespace

const char* SystemMessageText(HRESULT hr) noexcept {
  auto it =
      std::lower_bound(std::begin(kMessages), std::end(kMessages), static_cast<ULONG>(hr),
                       [](const MessageEntry& e, ULONG code) { return static_cast<ULONG>(e.hr) < code; });
  return it != std::end(kMessages) && it->hr == hr ? it->text : nullptr;
}

std::u16string SystemMessageTextW(HRESULT hr) {
  const char* text = SystemMessageText(hr);
  // The texts are plain ASCII, so each byte is one character.
  return text ? std::u16string(text, text + std::char_traits<char>::length(text)) : std::u16string();
}

}  // namespace pgx::auto_
