#include "apps/pgx/evaluator.h"

#include <cmath>
#include <deque>
#include <limits>

#include "automation/bstr.h"
#include "automation/com_error.h"
#include "automation/hresult.h"
#include "automation/safearray.h"

namespace pgx::cli {
namespace {

using auto_::Variant;

std::u16string Wide(std::string_view text) {
  std::u16string out;
  if (!auto_::Utf8ToUtf16(text, out)) throw InputError("\"" + std::string(text) + "\" is not valid UTF-8");
  return out;
}

Variant Text(std::string_view text) {
  Variant v;
  const std::u16string wide = Wide(text);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (!v.bstrVal) throw std::bad_alloc();
  return v;
}

Variant Missing() {
  Variant v;
  v.vt = VT_ERROR;
  v.scode = DISP_E_PARAMNOTFOUND;
  return v;
}

Variant Bytes(const std::vector<std::uint8_t>& bytes) {
  auto_::SafeArray array(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  if (!bytes.empty()) {
    auto_::SafeArrayData<BYTE> data(array.get());
    if (FAILED(data.status())) throw std::bad_alloc();
    std::copy(bytes.begin(), bytes.end(), data.data());
  }
  Variant v;
  v.vt = VT_ARRAY | VT_UI1;
  v.parray = array.Detach();
  return v;
}

struct IntegerRange {
  std::int64_t min, max;
  int bits;
  bool is_signed;
};

bool IntegerRangeOf(VARTYPE vt, IntegerRange& range) {
  switch (vt) {
    case VT_I1:
      range = {-128, 127, 8, true};
      return true;
    case VT_UI1:
      range = {0, 255, 8, false};
      return true;
    case VT_I2:
      range = {-32768, 32767, 16, true};
      return true;
    case VT_UI2:
      range = {0, 65535, 16, false};
      return true;
    case VT_I4:
    case VT_INT:
      range = {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), 32, true};
      return true;
    case VT_UI4:
    case VT_UINT:
      range = {0, std::numeric_limits<std::uint32_t>::max(), 32, false};
      return true;
    case VT_I8:
    case VT_UI8:
      range = {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(), 64, true};
      return true;
    default:
      return false;
  }
}

Variant Integer(std::int64_t value, VARTYPE vt) {
  Variant v;
  v.vt = vt;
  v.llVal = 0;
  switch (vt) {
    case VT_I1:
      v.cVal = static_cast<CHAR>(value);
      break;
    case VT_UI1:
      v.bVal = static_cast<BYTE>(value);
      break;
    case VT_I2:
      v.iVal = static_cast<SHORT>(value);
      break;
    case VT_UI2:
      v.uiVal = static_cast<USHORT>(value);
      break;
    case VT_I4:
    case VT_INT:
      v.lVal = static_cast<LONG>(value);
      break;
    case VT_UI4:
    case VT_UINT:
      v.ulVal = static_cast<ULONG>(value);
      break;
    default:
      v.llVal = value;
  }
  return v;
}

// The names a user may give for an enumeration, without its Start/End sentinels.
std::string Choices(const Library& library, const std::string& enumeration) {
  std::string out;
  for (const Constant* c : library.ConstantsOf(enumeration)) {
    if (!library.IsSentinel(*c)) out += (out.empty() ? "" : ", ") + c->name;
  }
  return out;
}

// The form of a member an action uses.
const MemberForm* Choose(const std::vector<const MemberForm*>& forms, Action action) {
  auto find = [&](INVOKEKIND kind) -> const MemberForm* {
    for (const MemberForm* f : forms) {
      if (f->invkind == kind) return f;
    }
    return nullptr;
  };
  switch (action) {
    case Action::kGet:
      if (auto f = find(INVOKE_PROPERTYGET)) return f;
      return find(INVOKE_FUNC);
    case Action::kCall:
      if (auto f = find(INVOKE_FUNC)) return f;
      return find(INVOKE_PROPERTYGET);
    case Action::kSet:
      if (auto f = find(INVOKE_PROPERTYPUT)) return f;
      return find(INVOKE_PROPERTYPUTREF);
  }
  return nullptr;
}

std::string ParameterList(const std::vector<ParamDesc>& params) {
  std::string out;
  for (const ParamDesc& p : params) out += (out.empty() ? "" : ", ") + p.name;
  return out.empty() ? "none" : out;
}

}  // namespace

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out + "\"";
}

Variant Evaluator::Untyped(const Literal& literal, const std::string& what) const {
  using K = Literal::Kind;
  switch (literal.kind) {
    case K::kMissing:
      return Missing();
    case K::kInteger: {
      IntegerRange range;
      IntegerRangeOf(VT_I4, range);
      std::int64_t value = literal.integer;
      if (literal.hex && value > range.max && value <= 0xFFFFFFFFll) value -= 0x100000000ll;
      if (value >= range.min && value <= range.max) return Integer(value, VT_I4);
      Variant v;
      v.vt = VT_R8;
      v.dblVal = static_cast<double>(literal.integer);
      return v;
    }
    case K::kReal: {
      Variant v;
      v.vt = VT_R8;
      v.dblVal = literal.real;
      return v;
    }
    case K::kBoolean: {
      Variant v;
      v.vt = VT_BOOL;
      v.boolVal = literal.boolean ? VARIANT_TRUE : VARIANT_FALSE;
      return v;
    }
    case K::kText:
      return Text(literal.text);
    case K::kName:
      if (const Constant* c = library_.FindConstant(literal.text)) return Integer(c->value, VT_I4);
      throw InputError(what + ": " + literal.text +
                       " is no constant of the type library (a text goes in double quotes: \"" +
                       literal.text + "\")");
    case K::kBytes:
      return Bytes(literal.bytes);
  }
  return Missing();
}

Variant Evaluator::Convert(const Literal& literal, const TypeDesc& type, const std::string& what) const {
  using K = Literal::Kind;
  if (literal.kind == K::kMissing) return Missing();
  const std::string as_written = literal.source.empty() ? literal.text : literal.source;
  if (type.IsEnum()) {
    if (literal.kind == K::kName) {
      const Constant* c = library_.FindConstant(literal.text);
      if (!c || c->enumeration != type.name)
        throw InputError(what + " is a " + type.name + ", one of: " + Choices(library_, type.name) +
                         " (not " + as_written + ")");
      return Integer(c->value, VT_I4);
    }
    if (literal.kind != K::kInteger)
      throw InputError(what + " is a " + type.name + ", one of: " + Choices(library_, type.name) + " (not " +
                       as_written + ")");
  }
  const VARTYPE vt = type.vt;
  if (vt == VT_VARIANT || vt == VT_EMPTY) return Untyped(literal, what);
  if (vt == VT_BOOL) {
    if (literal.kind == K::kBoolean || literal.kind == K::kInteger) {
      Variant v;
      v.vt = VT_BOOL;
      v.boolVal = (literal.kind == K::kBoolean ? literal.boolean : literal.integer != 0) ? VARIANT_TRUE
                                                                                         : VARIANT_FALSE;
      return v;
    }
    throw InputError(what + " is True or False, not " + as_written);
  }
  IntegerRange range;
  if (IntegerRangeOf(vt, range)) {
    std::int64_t value = 0;
    switch (literal.kind) {
      case K::kInteger:
        value = literal.integer;
        // A hex number is a bit pattern: 0x8004046C fills a long's sign bit.
        if (literal.hex && range.is_signed && range.bits < 64 && value > range.max &&
            value < (std::int64_t{1} << range.bits))
          value -= std::int64_t{1} << range.bits;
        break;
      case K::kReal:
        if (literal.real != std::floor(literal.real) || std::fabs(literal.real) > 9.2e18)
          throw InputError(what + " is a whole number (" + type.Idl() + "), not " + as_written);
        value = static_cast<std::int64_t>(literal.real);
        break;
      case K::kName:
        if (const Constant* c = library_.FindConstant(literal.text)) {
          value = c->value;
          break;
        }
        throw InputError(what + " is a number (" + type.Idl() + "); " + literal.text +
                         " is no constant of the type library");
      default:
        throw InputError(what + " is a number (" + type.Idl() + "), not " + as_written);
    }
    if (value < range.min || value > range.max)
      throw InputError(what + " is out of range: a " + type.Idl() + " is " + std::to_string(range.min) +
                       " to " + std::to_string(range.max) + ", not " + as_written);
    return Integer(value, vt);
  }
  if (vt == VT_R4 || vt == VT_R8) {
    double value = 0;
    if (literal.kind == K::kInteger) {
      value = static_cast<double>(literal.integer);
    } else if (literal.kind == K::kReal) {
      value = literal.real;
    } else if (const Constant* c = literal.kind == K::kName ? library_.FindConstant(literal.text) : nullptr) {
      value = c->value;
    } else {
      throw InputError(what + " is a number (" + type.Idl() + "), not " + as_written);
    }
    Variant v;
    if (vt == VT_R4) {
      if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max())
        throw InputError(what + " is out of range for a float: " + as_written);
      v.vt = VT_R4;
      v.fltVal = static_cast<float>(value);
    } else {
      v.vt = VT_R8;
      v.dblVal = value;
    }
    return v;
  }
  if (vt == VT_BSTR) {
    if (literal.kind == K::kText) return Text(literal.text);
    if (literal.kind == K::kInteger || literal.kind == K::kReal) return Text(literal.source);
    throw InputError(what + " is a text: write it in double quotes (\"" + as_written + "\")");
  }
  if (vt == (VT_ARRAY | VT_UI1)) {
    if (literal.kind == K::kBytes) return Bytes(literal.bytes);
    throw InputError(what + " is an array of bytes, written [1, 2, 255], not " + as_written);
  }
  if (type.IsObject()) throw InputError(what + " is an object (" + type.Idl() + "), which pgx cannot write");
  throw InputError(what + " is a " + type.Idl() + ", which pgx cannot write");
}

Variant Evaluator::ConvertText(const std::string& text, const TypeDesc& type, const std::string& what) const {
  if (type.vt == VT_BSTR && !type.IsEnum() && (text.empty() || text[0] != '"')) return Text(text);
  Literal literal;
  try {
    literal = ParseLiteral(text);
  } catch (const InputError& e) {
    throw InputError(what + ": " + e.what());
  }
  return Convert(literal, type, what);
}

Outcome Evaluator::Run(IDispatch* base, const Path& path, Action action, const std::string& value) const {
  if (!base) throw InputError("there is no object to start " + path.source + " from");
  if (path.segments.empty()) throw InputError("an empty path");
  auto_::ComPtr<IDispatch> object(base);
  for (std::size_t i = 0; i + 1 < path.segments.size(); ++i) {
    Outcome step = Invoke(object.Get(), path, i, Action::kGet, nullptr);
    VARIANT& v = step.result.value;
    IDispatch* next = nullptr;
    if (v.vt == VT_DISPATCH) {
      next = v.pdispVal;
    } else if (v.vt == VT_UNKNOWN && v.punkVal) {
      if (FAILED(v.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&next)))) next = nullptr;
      if (next) next->Release();  // still held by the variant
    } else {
      throw InputError(path.Prefix(i) + " is not an object, so it has no member " +
                       path.segments[i + 1].name);
    }
    if (!next)
      throw InputError(path.Prefix(i) + " is Nothing" +
                       (path.segments[i].arguments.empty() ? std::string() : " (no such item)"));
    object = auto_::ComPtr<IDispatch>(next);
  }
  return Invoke(object.Get(), path, path.segments.size() - 1, action,
                action == Action::kSet ? &value : nullptr);
}

Outcome Evaluator::Invoke(IDispatch* object, const Path& path, std::size_t index, Action action,
                          const std::string* value) const {
  const Segment& segment = path.segments[index];
  const InterfaceInfo iface = InterfaceInfo::Of(object);
  const std::string owner = iface.Known() ? iface.Name() : "the object";

  // The member by name, from the object itself, as late binding finds it.
  std::u16string wide = Wide(segment.name);
  LPOLESTR names[] = {wide.data()};
  DISPID id = DISPID_UNKNOWN;
  if (HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, 0, &id); FAILED(hr)) {
    if (hr != DISP_E_UNKNOWNNAME) {
      const char* text = auto_::SystemMessageText(hr);
      throw MemberFailure(Failure{hr, text ? text : "", "", path.Prefix(index)});
    }
    std::string message = segment.name + " is not a member of " + owner;
    const std::vector<std::string> closest = iface.Closest(segment.name);
    for (std::size_t i = 0; i < closest.size(); ++i)
      message += (i == 0 ? " (did you mean " : i + 1 == closest.size() ? " or " : ", ") + closest[i];
    if (!closest.empty()) message += "?)";
    if (iface.Known()) message += "; pgx members " + iface.Name() + " lists them";
    throw InputError(message);
  }

  Outcome outcome;
  const MemberForm* form = nullptr;
  if (iface.Known()) {
    const std::vector<const MemberForm*> forms = iface.Find(id);
    form = Choose(forms, action);
    const std::string name = forms.empty() ? segment.name : forms.front()->name;
    if (!form && !forms.empty()) {
      if (action == Action::kSet) {
        const bool method = forms.front()->invkind == INVOKE_FUNC;
        throw InputError(owner + "." + name + (method ? " is a method: use call" : " is read-only"));
      }
      throw InputError(owner + "." + name + " can only be set");
    }
    outcome.member = owner + "." + name;
  } else {
    outcome.member = segment.name;
  }

  // The arguments, by position or by name, typed by their parameters.
  std::vector<ParamDesc> params;
  if (form) {
    params = form->Arguments();
  } else {
    for (std::size_t i = 0; i < segment.arguments.size(); ++i) {
      ParamDesc p;
      p.name = "argument " + std::to_string(i + 1);
      p.type.vt = VT_VARIANT;
      p.flags = PARAMFLAG_FIN;
      params.push_back(p);
    }
  }
  const std::string member_name = form ? form->name : segment.name;
  std::vector<const Literal*> given(params.size(), nullptr);
  std::size_t next = 0;
  bool named_seen = false;
  for (const Argument& argument : segment.arguments) {
    if (!argument.name.empty()) {
      named_seen = true;
      std::size_t k = 0;
      while (k < params.size() && !SameName(params[k].name, argument.name)) ++k;
      if (k == params.size())
        throw InputError(member_name + " has no parameter " + argument.name +
                         " (its parameters: " + ParameterList(params) + ")");
      if (given[k]) throw InputError(member_name + ": " + params[k].name + " is given twice");
      given[k] = &argument.value;
      continue;
    }
    if (named_seen) throw InputError(member_name + ": arguments by position come before those by name");
    if (next >= params.size()) {
      throw InputError(member_name + " takes " + std::to_string(params.size()) + " argument" +
                       (params.size() == 1 ? "" : "s") + " (" + ParameterList(params) + "), " +
                       std::to_string(segment.arguments.size()) + " given");
    }
    given[next++] = &argument.value;
  }

  std::deque<Variant> storage;  // what by-reference arguments point to
  std::vector<VARIANT> arguments(params.size());
  std::vector<std::pair<std::size_t, const Variant*>> outs;
  std::size_t passed = 0;
  for (std::size_t k = 0; k < params.size(); ++k) {
    const ParamDesc& p = params[k];
    const Literal* literal = given[k] && given[k]->kind != Literal::Kind::kMissing ? given[k] : nullptr;
    const std::string what = p.name + " of " + member_name;
    arguments[k] = Missing();
    TypeDesc base = p.type;
    base.byref = false;
    if (p.type.byref) {
      // Given in/out arguments and every out argument go by reference and are shown after the call.
      const bool pass = literal || (p.Out() && !p.In());
      if (!pass) {
        if (!p.Optional()) throw InputError(what + " is required (" + p.type.Idl() + ")");
        continue;
      }
      Variant& slot = storage.emplace_back();
      if (literal && p.In()) {
        slot = Convert(*literal, base, what);
      } else if (base.vt != VT_VARIANT) {
        slot.vt = base.vt;
        slot.llVal = 0;
      }
      VARIANT& ref = arguments[k];
      if (base.vt == VT_VARIANT) {
        ref.vt = VT_BYREF | VT_VARIANT;
        ref.pvarVal = &slot;
      } else {
        ref.vt = static_cast<VARTYPE>(VT_BYREF | slot.vt);
        ref.byref = &slot.llVal;
      }
      if (p.Out()) outs.emplace_back(k, &slot);
      passed = k + 1;
      continue;
    }
    if (!literal) {
      if (!p.Optional()) throw InputError(what + " is required (" + p.type.Idl() + ")");
      continue;
    }
    arguments[k] = storage.emplace_back(Convert(*literal, base, what));
    passed = k + 1;
  }

  // IDispatch order: a put's value first (named DISPID_PROPERTYPUT), then the arguments, last one first.
  std::vector<VARIANT> rgvarg;
  DISPID put_id = DISPID_PROPERTYPUT;
  Variant put_value;
  if (action == Action::kSet) {
    TypeDesc value_type;
    value_type.vt = VT_VARIANT;
    if (form && form->PutValue()) {
      value_type = form->PutValue()->type;
      value_type.byref = false;
    }
    put_value = ConvertText(*value, value_type, "the value of " + member_name);
    rgvarg.push_back(put_value);
  }
  for (std::size_t k = passed; k-- > 0;) rgvarg.push_back(arguments[k]);
  DISPPARAMS params_block{rgvarg.data(), action == Action::kSet ? &put_id : nullptr,
                          static_cast<UINT>(rgvarg.size()), action == Action::kSet ? 1u : 0u};
  WORD flags = 0;
  if (form) {
    flags = static_cast<WORD>(form->invkind);
  } else {
    flags = action == Action::kSet    ? DISPATCH_PROPERTYPUT
            : action == Action::kCall ? DISPATCH_METHOD | DISPATCH_PROPERTYGET
                                      : DISPATCH_PROPERTYGET | DISPATCH_METHOD;
  }
  VARIANT result;
  VariantInit(&result);
  EXCEPINFO excep{};
  UINT arg_err = 0;
  HRESULT hr = object->Invoke(id, IID_NULL, 0, flags, &params_block, &result, &excep, &arg_err);
  outcome.result.value = Variant::Attach(result);
  if (FAILED(hr)) {
    Failure failure;
    failure.member = path.Prefix(index);
    try {
      auto_::IssueDispatchError(hr, excep);
    } catch (const auto_::com_error& e) {
      failure.hr = e.Error();
      std::string description;
      auto_::Utf16ToUtf8(e.Description(), description);
      failure.description = description.empty() ? e.ErrorMessage() : description;
      auto_::Utf16ToUtf8(e.Source(), failure.source);
    }
    // The dispatcher's own refusals name the argument it refused.
    if ((hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND || hr == DISP_E_OVERFLOW) &&
        arg_err < rgvarg.size()) {
      const std::size_t first_argument = action == Action::kSet ? 1 : 0;
      if (arg_err < first_argument) {
        failure.description += " (the value)";
      } else if (const std::size_t k = passed - 1 - (arg_err - first_argument); k < params.size()) {
        failure.description += " (" + params[k].name + ")";
      }
    }
    throw MemberFailure(std::move(failure));
  }
  if (action == Action::kSet) {
    outcome.written.value = put_value;
    if (form && form->PutValue()) {
      outcome.written.type = form->PutValue()->type;
      outcome.written.type.byref = false;
    }
  }
  if (form) {
    outcome.result.type = form->Result();
  } else {
    outcome.result.type.vt = outcome.result.value.vt;
  }
  for (const auto& [k, slot] : outs) {
    TypeDesc type = params[k].type;
    type.byref = false;
    outcome.out.emplace_back(params[k].name, Value{*slot, type});
  }
  return outcome;
}

}  // namespace pgx::cli
