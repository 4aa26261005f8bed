#pragma once
// The attributes of one VISA object: which exist, their types, which may be set and to what.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "visa/visa.h"

namespace pgx::visa {

enum class AttrType { kUInt8, kUInt16, kInt16, kUInt32, kInt32, kBoolean, kUInt64, kAddr, kString };

class AttributeSet {
 public:
  // A read-only attribute.
  void add(ViAttr id, AttrType type, ViAttrState value);
  void add_text(ViAttr id, std::string text);
  // A writable attribute that accepts values from `min` to `max` (a boolean accepts VI_TRUE and VI_FALSE; a
  // signed attribute takes its limits as signed numbers cast to ViAttrState).
  void add_writable(ViAttr id, AttrType type, ViAttrState value, ViAttrState min, ViAttrState max);

  bool has(ViAttr id) const { return find(id) != nullptr; }
  // The current value of a numeric attribute (0 when it does not exist).
  ViAttrState number(ViAttr id) const;
  // The value as a signed number in the attribute's own width (-1 for a ViInt16 that holds -1); nothing
  // when the attribute does not exist or is text.
  std::optional<long long> signed_number(ViAttr id) const;
  // The text of a string attribute; null when the attribute does not exist or is a number.
  const std::string* text(ViAttr id) const;

  // Writes the value in the attribute's own width (a string: at most VI_FIND_BUFLEN bytes with its NUL).
  ViStatus get(ViAttr id, void* out) const;
  // VI_ERROR_NSUP_ATTR, VI_ERROR_ATTR_READONLY or VI_ERROR_NSUP_ATTR_STATE when the value is refused.
  ViStatus set(ViAttr id, ViAttrState value);
  // Changes a value regardless of writability (the library's own bookkeeping).
  void update(ViAttr id, ViAttrState value);
  void update_text(ViAttr id, std::string text);

 private:
  struct Attribute {
    ViAttr id;
    AttrType type;
    bool writable;
    ViAttrState value;
    ViAttrState min;
    ViAttrState max;
    std::string text;
  };
  const Attribute* find(ViAttr id) const;
  Attribute* find(ViAttr id);

  std::vector<Attribute> attributes_;
};

// The standard name of an attribute ("VI_ATTR_TMO_VALUE"), or null when this library does not know it.
const char* attribute_name(ViAttr id);
// The attribute of a standard name, or nothing.
std::optional<ViAttr> attribute_by_name(std::string_view name);

}  // namespace pgx::visa
