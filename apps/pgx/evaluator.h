// Runs a member path on an object late-bound, as a script does: each member found by name
// (GetIDsOfNames), its arguments typed by what the type library says of its parameters, in/out arguments
// passed by reference, and the call made through IDispatch::Invoke.
#pragma once

#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "apps/pgx/syntax.h"
#include "apps/pgx/type_library.h"
#include "automation/variant.h"

namespace pgx::cli {

// What a failing member reported.
struct Failure {
  HRESULT hr = S_OK;
  std::string description;  // the error information's description (UTF-8), or the system's text
  std::string source;
  std::string member;  // the path up to the member that failed, as written: "Channels.Item(3)"
};

class MemberFailure : public std::exception {
 public:
  explicit MemberFailure(Failure failure) : failure_(std::move(failure)) {}
  const Failure& failure() const noexcept { return failure_; }
  const char* what() const noexcept override { return failure_.description.c_str(); }

 private:
  Failure failure_;
};

// A value with what the library says it is.
struct Value {
  auto_::Variant value;
  TypeDesc type;
};

struct Outcome {
  Value result;                                    // VT_EMPTY when the member returns nothing
  std::vector<std::pair<std::string, Value>> out;  // [out] and [in, out] arguments after the call
  Value written;                                   // a set: the value as it was passed
  std::string member;                              // "IInstrument.Frequency", for messages
};

enum class Action { kGet, kSet, kCall };

class Evaluator {
 public:
  explicit Evaluator(const Library& library) : library_(library) {}

  // Every segment but the last is read as a property (or called) and must give an object; the last is
  // read, set to `value` (as written) or called. Throws InputError for bad input, MemberFailure when a
  // member fails.
  Outcome Run(IDispatch* base, const Path& path, Action action, const std::string& value = {}) const;

  // `literal` as a parameter of `type` takes it; `what` names the parameter in messages.
  auto_::Variant Convert(const Literal& literal, const TypeDesc& type, const std::string& what) const;
  // The value of a set, as written: a text property takes the words as they are, quotes optional.
  auto_::Variant ConvertText(const std::string& text, const TypeDesc& type, const std::string& what) const;

 private:
  Outcome Invoke(IDispatch* object, const Path& path, std::size_t index, Action action,
                 const std::string* value) const;
  auto_::Variant Untyped(const Literal& literal, const std::string& what) const;

  const Library& library_;
};

// A text in double quotes with the escapes ParseLiteral reads.
std::string Quote(std::string_view text);

}  // namespace pgx::cli
