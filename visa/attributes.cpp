#include "visa/attributes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace pgx::visa {

void AttributeSet::add(ViAttr id, AttrType type, ViAttrState value) {
  attributes_.push_back({id, type, false, value, value, value, {}});
}

void AttributeSet::add_text(ViAttr id, std::string text) {
  attributes_.push_back({id, AttrType::kString, false, 0, 0, 0, std::move(text)});
}

void AttributeSet::add_writable(ViAttr id, AttrType type, ViAttrState value, ViAttrState min,
                                ViAttrState max) {
  if (type == AttrType::kBoolean) {
    min = VI_FALSE;
    max = VI_TRUE;
  }
  attributes_.push_back({id, type, true, value, min, max, {}});
}

const AttributeSet::Attribute* AttributeSet::find(ViAttr id) const {
  for (const auto& a : attributes_)
    if (a.id == id) return &a;
  return nullptr;
}

AttributeSet::Attribute* AttributeSet::find(ViAttr id) {
  return const_cast<Attribute*>(static_cast<const AttributeSet*>(this)->find(id));
}

ViAttrState AttributeSet::number(ViAttr id) const {
  const Attribute* a = find(id);
  return a ? a->value : 0;
}

namespace {
template <typename T>
void store(void* out, ViAttrState value) {
  T typed = static_cast<T>(value);
  std::memcpy(out, &typed, sizeof typed);
}
}  // namespace

ViStatus AttributeSet::get(ViAttr id, void* out) const {
  const Attribute* a = find(id);
  if (!a) return VI_ERROR_NSUP_ATTR;
  if (!out) return VI_ERROR_USER_BUF;
  switch (a->type) {
    case AttrType::kUInt8:
      store<ViUInt8>(out, a->value);
      break;
    case AttrType::kUInt16:
      store<ViUInt16>(out, a->value);
      break;
    case AttrType::kInt16:
      store<ViInt16>(out, a->value);
      break;
    case AttrType::kUInt32:
      store<ViUInt32>(out, a->value);
      break;
    case AttrType::kInt32:
      store<ViInt32>(out, a->value);
      break;
    case AttrType::kBoolean:
      store<ViBoolean>(out, a->value);
      break;
    case AttrType::kUInt64:
      store<ViUInt64>(out, a->value);
      break;
    case AttrType::kAddr:
      store<std::uintptr_t>(out, a->value);
      break;
    case AttrType::kString: {
      std::size_t n = std::min(a->text.size(), std::size_t{VI_FIND_BUFLEN - 1});
      std::memcpy(out, a->text.data(), n);
      static_cast<char*>(out)[n] = '\0';
      break;
    }
  }
  return VI_SUCCESS;
}

ViStatus AttributeSet::set(ViAttr id, ViAttrState value) {
  Attribute* a = find(id);
  if (!a) return VI_ERROR_NSUP_ATTR;
  if (!a->writable) return VI_ERROR_ATTR_READONLY;
  if (value < a->min || value > a->max) return VI_ERROR_NSUP_ATTR_STATE;
  a->value = value;
  return VI_SUCCESS;
}

void AttributeSet::update(ViAttr id, ViAttrState value) {
  if (Attribute* a = find(id)) a->value = value;
}

}  // namespace pgx::visa
